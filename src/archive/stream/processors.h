// How many processors this process may run on, which decides how many
// threads the archive stream starts.
#pragma once

namespace vna {

// The processors in the process's affinity mask (`taskset` narrows it); 1
// when the mask cannot be read.
unsigned processorsAvailable();

}  // namespace vna

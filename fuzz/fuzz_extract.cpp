// Fuzz target: extraction of an arbitrary archive file into a fresh target
// directory on a RAM-backed folder; afterwards nothing may exist outside the
// target but the archive itself.
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "archive/extract/extract_archive.h"
#include "base/errors.h"
#include "sandbox.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static vna::test::Sandbox box;
  vna::FilePath archive = box.path("in.vna");
  vna::FilePath target = box.path("out");
  vna::test::writeFile(archive, std::string(reinterpret_cast<const char*>(data), size));
  try {
    vna::extractArchive(archive, target);
  } catch (const vna::ExceptionPL&) {
  } catch (const vna::FormatError&) {
  } catch (const vna::FileIOError&) {
  } catch (const vna::InvalidTime&) {
  } catch (const vna::ParsingFailure&) {
  } catch (const vna::StackFull&) {
  }
  auto tree = vna::test::snapshot(box.root());
  for (const auto& entry : tree) {
    if (entry.first != "in.vna" && entry.first.rfind("out/", 0) != 0) {
      std::fprintf(stderr, "written outside the target: %s\n", entry.first.c_str());
      std::abort();
    }
  }
  vna::test::removeTree(target);
  return 0;
}

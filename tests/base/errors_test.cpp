#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "base/errors.h"

namespace vna {
namespace {

TEST(ExceptionPL, CopyOwnsItsOwnText) {
  auto original = std::make_unique<ExceptionPL>("Unable to open source location!\n");
  ExceptionPL copy(*original);
  EXPECT_NE(copy.what(), original->what());
  original.reset();
  EXPECT_STREQ(copy.what(), "Unable to open source location!\n");
}

TEST(DebuggableException, WhatNamesTheMostDerivedClass) {
  EXPECT_STREQ(DataTooSmall().what(), "class DataTooSmall");
  EXPECT_STREQ(DataOverflow().what(), "class DataOverflow");
  const std::exception& base = ParsingFailure();
  EXPECT_STREQ(base.what(), "class ParsingFailure");
}

template <typename Thrown, typename Handler>
bool caughtAs() {
  try {
    throw Thrown();
  } catch (const Handler&) {
    return true;
  } catch (...) {
    return false;
  }
}

TEST(ErrorFamilies, HandlersCatchExactlyTheirFamily) {
  EXPECT_TRUE((caughtAs<FileNotFoundError, FileIOError>()));
  EXPECT_TRUE((caughtAs<EndOfFileError, FileIOError>()));
  EXPECT_TRUE((caughtAs<UnexpectedEndOfCompressedFile, FormatError>()));
  EXPECT_TRUE((caughtAs<FileStartingBytesNotRecognized, FormatError>()));
  EXPECT_FALSE((caughtAs<ParsingFailure, FormatError>()));
  EXPECT_TRUE((caughtAs<NoTimeZone, InvalidTime>()));
  EXPECT_FALSE((caughtAs<FormatError, ExceptionPL>()));
  EXPECT_EQ(FileSeekError().code(), 0u);
  EXPECT_EQ(FileIOError(32).code(), 32u);
}

}  // namespace
}  // namespace vna

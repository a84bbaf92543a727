#include "platform/Win32Platform.h"

#include <gtest/gtest.h>

TEST(Win32Platform, Placeholder) { SUCCEED(); }

#include <gtest/gtest.h>

#include "config/image.h"

using namespace qm730;

TEST(ConfigImage, SizeIsOneByteShortOf40KiB) { EXPECT_EQ(defaultImage().bytes().size(), 40959u); }

#include <gtest/gtest.h>
#include "settings/settings.h"
TEST(Settings, Parse) { EXPECT_EQ(settings_parse_uint("12abc"), 12U); }

// What each setting means, for the page: its group as dormix-settings(5)
// groups them, its meaning and its unit.
#pragma once

enum class setting_group { general, wake, sleep };

struct setting_help {
  const char* key;
  setting_group group;
  const char* meaning;
  const char* unit;
};

/// The help for a known key, or null.
const setting_help* help_for_key(const char* key);

/// The group's heading.
const char* group_heading(setting_group group);

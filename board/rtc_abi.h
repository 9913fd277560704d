// The kernel's RTC character-device interface (include/uapi/linux/rtc.h),
// declared here because the static builds compile against the C library's
// headers alone. The unit tests compare it with the kernel headers.
#pragma once

#include <sys/ioctl.h>

struct rtc_clock_time {
  int tm_sec;
  int tm_min;
  int tm_hour;
  int tm_mday;
  int tm_mon;
  int tm_year;
  int tm_wday;
  int tm_yday;
  int tm_isdst;
};

struct rtc_wake_alarm {
  unsigned char enabled;
  unsigned char pending;
  rtc_clock_time time;
};

inline constexpr unsigned long RTC_ALARM_INTERRUPT_OFF = _IO('p', 0x02);
inline constexpr unsigned long RTC_READ_TIME = _IOR('p', 0x09, rtc_clock_time);
inline constexpr unsigned long RTC_WAKE_ALARM_SET = _IOW('p', 0x0f, rtc_wake_alarm);
inline constexpr unsigned long RTC_WAKE_ALARM_READ = _IOR('p', 0x10, rtc_wake_alarm);

/* SPDX-License-Identifier: GPL-2.0 OR MIT */
/*
 * The interface of /dev/gpio, shared by the driver dormix_gpio and every
 * program that opens the device: the daemon, dormix-check, the simulated
 * router and the guest checks. Plain numbers, so that C, C++ and the
 * kernel read the same lines without <linux/ioctl.h>.
 *
 * The device is opened O_RDWR. Each request takes the argument 0 and
 * answers with its return value: the input's level, 0 or 1 after the
 * line's active-low flag, when it is not negative; a negative return
 * (-1 with errno in user space) is a failed read, and a request that is
 * none of these two fails with ENOTTY.
 */
#ifndef DORMIX_GPIO_ABI_H
#define DORMIX_GPIO_ABI_H

#define DORMIX_GPIO_DEVICE_PATH	"/dev/gpio"

/*
 * _IOC(_IOC_READ, 'B', 7, 0) and _IOC(_IOC_READ, 'B', 27, 0) as ARM and
 * x86 encode them, kept as these numbers on every architecture.
 */
#define DORMIX_GPIO_READ_INPUT0	0x80004207U
#define DORMIX_GPIO_READ_INPUT1	0x8000421bU

#endif /* DORMIX_GPIO_ABI_H */

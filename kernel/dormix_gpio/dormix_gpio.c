// SPDX-License-Identifier: GPL-2.0 OR MIT
/*
 * dormix_gpio: the router's two binary inputs as the misc device "gpio".
 *
 * Request 0x80004207 on /dev/gpio returns input 0's level, 0x8000421b
 * input 1's: 0 or 1 after the line's active-low flag, or a negative errno.
 * The lines come from the module parameters input0= and input1=
 * ("CHIP:OFFSET" or "CHIP:OFFSET:active-low") or from a device-tree node
 * (compatible "dormix,gpio", properties input0-gpios and input1-gpios).
 *
 * Attributes of the misc device (/sys/class/misc/gpio/):
 *   inputs    the configured inputs' numbers, e.g. "0 1"
 *   wake      "1" arms every configured input as a wakeup source, "0"
 *             disarms; the driver disarms by itself after a suspend
 *   woken_by  the input whose level changed first while armed, or "none";
 *             every armed edge notifies its pollers
 */

#define pr_fmt(fmt) KBUILD_MODNAME ": " fmt

#include <linux/atomic.h>
#include <linux/device.h>
#include <linux/fs.h>
#include <linux/gpio/consumer.h>
#include <linux/gpio/driver.h>
#include <linux/gpio/machine.h>
#include <linux/interrupt.h>
#include <linux/kref.h>
#include <linux/miscdevice.h>
#include <linux/module.h>
#include <linux/mutex.h>
#include <linux/of.h>
#include <linux/overflow.h>
#include <linux/platform_device.h>
#include <linux/pm_wakeup.h>
#include <linux/slab.h>
#include <linux/string.h>
#include <linux/suspend.h>
#include <linux/sysfs.h>

#include "dormix_gpio_abi.h"

#define DORMIX_GPIO_NAME	"dormix-gpio"
#define DORMIX_GPIO_INPUTS	2
#define DORMIX_GPIO_NO_INPUT	(-1)

/*
 * The requests as the daemon sends them: _IOC(_IOC_READ, 'B', 7 and 27, 0)
 * encoded as on ARM and x86, kept as these numbers on every architecture.
 */
static const unsigned int dormix_gpio_requests[DORMIX_GPIO_INPUTS] = {
	DORMIX_GPIO_READ_INPUT0, DORMIX_GPIO_READ_INPUT1,
};

static const char *const dormix_gpio_con_ids[DORMIX_GPIO_INPUTS] = {
	"input0", "input1",
};

static char *input0;
module_param(input0, charp, 0444);
MODULE_PARM_DESC(input0, "input 0's line: CHIP:OFFSET[:active-low], CHIP a gpiochip's label or name");

static char *input1;
module_param(input1, charp, 0444);
MODULE_PARM_DESC(input1, "input 1's line: CHIP:OFFSET[:active-low], CHIP a gpiochip's label or name");

struct dormix_gpio;

struct dormix_gpio_input {
	struct dormix_gpio *owner;
	struct gpio_desc *desc;		/* NULL: not configured */
	int number;
	int irq;			/* > 0 while requested */
	bool wake;			/* enable_irq_wake() done */
};

struct dormix_gpio {
	struct kref ref;		/* probe's, and one per open file */
	struct device *dev;
	struct miscdevice misc;
	struct dormix_gpio_input inputs[DORMIX_GPIO_INPUTS];
	struct mutex lock;		/* armed, removed, the inputs' irq and wake */
	bool armed;
	bool removed;
	atomic_t woken_by;
	struct notifier_block pm_nb;
};

static struct dormix_gpio *dormix_gpio_of(struct device *misc_dev)
{
	struct miscdevice *misc = dev_get_drvdata(misc_dev);

	return container_of(misc, struct dormix_gpio, misc);
}

static void dormix_gpio_release_state(struct kref *ref)
{
	struct dormix_gpio *gpio = container_of(ref, struct dormix_gpio, ref);
	int n;

	for (n = 0; n < DORMIX_GPIO_INPUTS; n++)
		if (gpio->inputs[n].desc)
			gpiod_put(gpio->inputs[n].desc);
	mutex_destroy(&gpio->lock);
	kfree(gpio);
}

/* misc_open() calls this under the misc lock, while the device is registered. */
static int dormix_gpio_open(struct inode *inode, struct file *file)
{
	struct dormix_gpio *gpio = container_of(file->private_data,
						struct dormix_gpio, misc);

	kref_get(&gpio->ref);
	return nonseekable_open(inode, file);
}

static int dormix_gpio_release(struct inode *inode, struct file *file)
{
	struct dormix_gpio *gpio = container_of(file->private_data,
						struct dormix_gpio, misc);

	kref_put(&gpio->ref, dormix_gpio_release_state);
	return 0;
}

/* The argument is ignored; the level is the return value. */
static long dormix_gpio_ioctl(struct file *file, unsigned int cmd,
			      unsigned long arg)
{
	struct dormix_gpio *gpio = container_of(file->private_data,
						struct dormix_gpio, misc);
	int n;

	for (n = 0; n < DORMIX_GPIO_INPUTS; n++) {
		if (cmd != dormix_gpio_requests[n])
			continue;
		if (!gpio->inputs[n].desc)
			return -ENODEV;
		return gpiod_get_value_cansleep(gpio->inputs[n].desc);
	}
	return -ENOTTY;
}

static const struct file_operations dormix_gpio_fops = {
	.owner = THIS_MODULE,
	.open = dormix_gpio_open,
	.release = dormix_gpio_release,
	.unlocked_ioctl = dormix_gpio_ioctl,
	.compat_ioctl = dormix_gpio_ioctl,
};

static irqreturn_t dormix_gpio_edge(int irq, void *data)
{
	struct dormix_gpio_input *input = data;
	struct dormix_gpio *gpio = input->owner;

	atomic_cmpxchg(&gpio->woken_by, DORMIX_GPIO_NO_INPUT, input->number);
	pm_wakeup_event(gpio->dev, 0);
	sysfs_notify(&gpio->misc.this_device->kobj, NULL, "woken_by");
	return IRQ_HANDLED;
}

/* Called with gpio->lock held. */
static void dormix_gpio_disarm(struct dormix_gpio *gpio)
{
	struct dormix_gpio_input *input;
	int n;

	for (n = 0; n < DORMIX_GPIO_INPUTS; n++) {
		input = &gpio->inputs[n];
		if (input->wake)
			disable_irq_wake(input->irq);
		input->wake = false;
		if (input->irq > 0)
			free_irq(input->irq, input);
		input->irq = 0;
	}
	if (gpio->armed)
		device_wakeup_disable(gpio->dev);
	gpio->armed = false;
}

/*
 * Called with gpio->lock held. Arms every configured input or, on failure,
 * none.
 */
static int dormix_gpio_arm(struct dormix_gpio *gpio)
{
	struct dormix_gpio_input *input;
	int n, irq, ret = -ENODEV;

	dormix_gpio_disarm(gpio);
	atomic_set(&gpio->woken_by, DORMIX_GPIO_NO_INPUT);
	for (n = 0; n < DORMIX_GPIO_INPUTS; n++) {
		input = &gpio->inputs[n];
		if (!input->desc)
			continue;
		irq = gpiod_to_irq(input->desc);
		if (irq <= 0) {
			ret = irq < 0 ? irq : -ENXIO;
			dev_err(gpio->dev, "input %d has no interrupt: %d\n",
				n, ret);
			goto undo;
		}
		ret = request_threaded_irq(irq, NULL, dormix_gpio_edge,
					   IRQF_TRIGGER_RISING |
					   IRQF_TRIGGER_FALLING | IRQF_ONESHOT,
					   dormix_gpio_con_ids[n], input);
		if (ret) {
			dev_err(gpio->dev, "input %d: irq %d: %d\n", n, irq, ret);
			goto undo;
		}
		input->irq = irq;
		ret = enable_irq_wake(irq);
		if (ret) {
			dev_err(gpio->dev, "input %d cannot wake: %d\n", n, ret);
			goto undo;
		}
		input->wake = true;
	}
	if (ret)
		return ret;
	device_wakeup_enable(gpio->dev);
	gpio->armed = true;
	return 0;

undo:
	dormix_gpio_disarm(gpio);
	return ret;
}

static int dormix_gpio_pm_notify(struct notifier_block *nb,
				 unsigned long event, void *unused)
{
	struct dormix_gpio *gpio = container_of(nb, struct dormix_gpio, pm_nb);

	if (event == PM_POST_SUSPEND) {
		mutex_lock(&gpio->lock);
		dormix_gpio_disarm(gpio);
		mutex_unlock(&gpio->lock);
	}
	return NOTIFY_DONE;
}

static ssize_t inputs_show(struct device *dev, struct device_attribute *attr,
			   char *buf)
{
	struct dormix_gpio *gpio = dormix_gpio_of(dev);
	int n, len = 0;

	for (n = 0; n < DORMIX_GPIO_INPUTS; n++)
		if (gpio->inputs[n].desc)
			len += sysfs_emit_at(buf, len, "%s%d", len ? " " : "", n);
	return len + sysfs_emit_at(buf, len, "\n");
}
static DEVICE_ATTR_RO(inputs);

static ssize_t wake_show(struct device *dev, struct device_attribute *attr,
			 char *buf)
{
	return sysfs_emit(buf, "%d\n", READ_ONCE(dormix_gpio_of(dev)->armed));
}

static ssize_t wake_store(struct device *dev, struct device_attribute *attr,
			  const char *buf, size_t count)
{
	struct dormix_gpio *gpio = dormix_gpio_of(dev);
	bool arm;
	int ret;

	ret = kstrtobool(buf, &arm);
	if (ret)
		return ret;
	mutex_lock(&gpio->lock);
	if (gpio->removed)
		ret = -ENODEV;
	else if (arm)
		ret = dormix_gpio_arm(gpio);
	else
		dormix_gpio_disarm(gpio);
	mutex_unlock(&gpio->lock);
	return ret ? ret : count;
}
static DEVICE_ATTR_RW(wake);

static ssize_t woken_by_show(struct device *dev, struct device_attribute *attr,
			     char *buf)
{
	int input = atomic_read(&dormix_gpio_of(dev)->woken_by);

	if (input == DORMIX_GPIO_NO_INPUT)
		return sysfs_emit(buf, "none\n");
	return sysfs_emit(buf, "%d\n", input);
}
static DEVICE_ATTR_RO(woken_by);

static struct attribute *dormix_gpio_attrs[] = {
	&dev_attr_inputs.attr,
	&dev_attr_wake.attr,
	&dev_attr_woken_by.attr,
	NULL,
};
ATTRIBUTE_GROUPS(dormix_gpio);

static int dormix_gpio_probe(struct platform_device *pdev)
{
	struct dormix_gpio *gpio;
	struct gpio_desc *desc;
	int n, ret;

	gpio = kzalloc(sizeof(*gpio), GFP_KERNEL);
	if (!gpio)
		return -ENOMEM;
	kref_init(&gpio->ref);
	mutex_init(&gpio->lock);
	atomic_set(&gpio->woken_by, DORMIX_GPIO_NO_INPUT);
	gpio->dev = &pdev->dev;
	for (n = 0; n < DORMIX_GPIO_INPUTS; n++) {
		gpio->inputs[n].owner = gpio;
		gpio->inputs[n].number = n;
		desc = gpiod_get_optional(&pdev->dev, dormix_gpio_con_ids[n],
					  GPIOD_IN);
		if (IS_ERR(desc)) {
			ret = dev_err_probe(&pdev->dev, PTR_ERR(desc),
					    "input %d\n", n);
			goto fail;
		}
		gpio->inputs[n].desc = desc;
	}

	gpio->misc.minor = MISC_DYNAMIC_MINOR;
	gpio->misc.name = "gpio";
	gpio->misc.fops = &dormix_gpio_fops;
	gpio->misc.parent = &pdev->dev;
	gpio->misc.groups = dormix_gpio_groups;
	ret = misc_register(&gpio->misc);
	if (ret)
		goto fail;
	device_set_wakeup_capable(&pdev->dev, true);
	gpio->pm_nb.notifier_call = dormix_gpio_pm_notify;
	register_pm_notifier(&gpio->pm_nb);
	platform_set_drvdata(pdev, gpio);
	return 0;

fail:
	kref_put(&gpio->ref, dormix_gpio_release_state);
	return ret;
}

static void dormix_gpio_unbind(struct platform_device *pdev)
{
	struct dormix_gpio *gpio = platform_get_drvdata(pdev);

	unregister_pm_notifier(&gpio->pm_nb);
	/* No edge may notify the misc device once it is gone. */
	mutex_lock(&gpio->lock);
	dormix_gpio_disarm(gpio);
	gpio->removed = true;
	mutex_unlock(&gpio->lock);
	misc_deregister(&gpio->misc);
	device_set_wakeup_capable(&pdev->dev, false);
	/* Files still open keep the state, and the lines, until closed. */
	kref_put(&gpio->ref, dormix_gpio_release_state);
}

static const struct of_device_id dormix_gpio_of_match[] = {
	{ .compatible = "dormix,gpio" },
	{ }
};

/*
 * The alias loads the module for such a node. A cross build whose modpost
 * was built for a host of another word size cannot read the table: it
 * builds with DORMIX_GPIO_NO_OF_ALIAS=y, and such a board loads the module
 * by name.
 */
#ifndef DORMIX_GPIO_NO_OF_ALIAS
MODULE_DEVICE_TABLE(of, dormix_gpio_of_match);
#endif

struct dormix_gpio_chip_query {
	const char *chip;
	char *label;		/* the first matching chip's, allocated */
	unsigned int ngpio;
	int by_label;
	int by_name;
};

/*
 * Counts the chips whose label is the name asked for and, failing that, the
 * chips whose device (gpiochipN) carries it; it runs under gpiolib's lock
 * or, from 6.9 on, its read-side protection.
 */
static void dormix_gpio_count_chip(struct gpio_chip *gc,
				   struct dormix_gpio_chip_query *query)
{
	struct device *dev = NULL;
	bool by_label = gc->label && !strcmp(gc->label, query->chip);
	bool first;

	if (!by_label && gc->parent) {
		dev = device_find_child_by_name(gc->parent, query->chip);
		put_device(dev);
	}
	if ((!by_label && !dev) || !gc->label)
		return;
	/* A chip found by its label wins over one found by its name. */
	if (by_label)
		first = !query->by_label++;
	else
		first = !query->by_label && !query->by_name++;
	if (first) {
		kfree(query->label);
		query->label = kstrdup(gc->label, GFP_ATOMIC);
		query->ngpio = gc->ngpio;
	}
}

/*
 * The interfaces that changed between the kernel lines this builds for, as
 * Kbuild tells them by the kernel's version: gpiochip_find() gave way to
 * gpio_device_find() in 6.7, whose match takes const data from 6.9 on, and a
 * platform driver's remove returns void since 6.11. Every chip is visited:
 * the match never matches.
 */
#ifndef DORMIX_GPIO_DEVICE_FIND
static int dormix_gpio_visit_chip(struct gpio_chip *gc, void *data)
{
	dormix_gpio_count_chip(gc, data);
	return 0;
}

static void dormix_gpio_find_chips(struct dormix_gpio_chip_query *query)
{
	gpiochip_find(query, dormix_gpio_visit_chip);
}
#else
#ifdef DORMIX_GPIO_FIND_CONST_DATA
static int dormix_gpio_visit_chip(struct gpio_chip *gc, const void *data)
#else
static int dormix_gpio_visit_chip(struct gpio_chip *gc, void *data)
#endif
{
	/* The data is the query's address: the query itself changes. */
	struct dormix_gpio_chip_query *const *query = data;

	dormix_gpio_count_chip(gc, *query);
	return 0;
}

static void dormix_gpio_find_chips(struct dormix_gpio_chip_query *query)
{
	struct gpio_device *gdev;

	gdev = gpio_device_find(&query, dormix_gpio_visit_chip);
	if (gdev)
		gpio_device_put(gdev);
}
#endif

#ifdef DORMIX_GPIO_REMOVE_VOID
static void dormix_gpio_remove(struct platform_device *pdev)
{
	dormix_gpio_unbind(pdev);
}
#else
static int dormix_gpio_remove(struct platform_device *pdev)
{
	dormix_gpio_unbind(pdev);
	return 0;
}
#endif

static struct platform_driver dormix_gpio_driver = {
	.probe = dormix_gpio_probe,
	.remove = dormix_gpio_remove,
	.driver = {
		.name = DORMIX_GPIO_NAME,
		.of_match_table = dormix_gpio_of_match,
	},
};

/* The lines of the module parameters, when no device-tree node names them. */
static struct gpiod_lookup_table *dormix_gpio_lookup;
static struct platform_device *dormix_gpio_pdev;

/* Parses CHIP:OFFSET[:active-low] into one lookup entry. */
static int dormix_gpio_parse_line(int n, const char *text,
				  struct gpiod_lookup *entry)
{
	static const char active_low[] = ":active-low";
	struct dormix_gpio_chip_query query = { };
	unsigned int offset;
	char *value, *colon;
	size_t len;
	int ret;

	value = kstrdup(text, GFP_KERNEL);
	if (!value)
		return -ENOMEM;
	len = strlen(value);
	entry->flags = GPIO_ACTIVE_HIGH;
	if (len > strlen(active_low) &&
	    !strcmp(value + len - strlen(active_low), active_low)) {
		value[len - strlen(active_low)] = '\0';
		entry->flags = GPIO_ACTIVE_LOW;
	}
	colon = strrchr(value, ':');
	ret = -EINVAL;
	if (!colon || colon == value || kstrtouint(colon + 1, 10, &offset)) {
		pr_err("input%d=%s: not CHIP:OFFSET[:active-low]\n", n, text);
		goto out;
	}
	*colon = '\0';
	query.chip = value;
	dormix_gpio_find_chips(&query);
	if (!query.by_label && query.by_name > 1) {
		pr_err("input%d=%s: several chips answer to %s, give its label\n",
		       n, text, value);
		goto out;
	}
	ret = -ENODEV;
	if (!query.label) {
		pr_err("input%d=%s: no gpiochip %s\n", n, text, value);
		goto out;
	}
	ret = -EINVAL;
	if (offset >= query.ngpio) {
		pr_err("input%d=%s: %s has %u lines\n", n, text, value,
		       query.ngpio);
		goto out;
	}
	entry->key = query.label;
	query.label = NULL;
	entry->chip_hwnum = offset;
	entry->con_id = dormix_gpio_con_ids[n];
	entry->idx = 0;
	ret = 0;
out:
	kfree(query.label);
	kfree(value);
	return ret;
}

static void dormix_gpio_free_lookup(struct gpiod_lookup_table *table)
{
	struct gpiod_lookup *entry;

	if (!table)
		return;
	for (entry = table->table; entry->key; entry++)
		kfree(entry->key);
	kfree(table);
}

static int dormix_gpio_add_lookup(void)
{
	const char *const lines[DORMIX_GPIO_INPUTS] = { input0, input1 };
	struct gpiod_lookup_table *table;
	int n, entries = 0, ret;

	table = kzalloc(struct_size(table, table, DORMIX_GPIO_INPUTS + 1),
			GFP_KERNEL);
	if (!table)
		return -ENOMEM;
	table->dev_id = DORMIX_GPIO_NAME;
	for (n = 0; n < DORMIX_GPIO_INPUTS; n++) {
		if (!lines[n] || !*lines[n])
			continue;
		ret = dormix_gpio_parse_line(n, lines[n], &table->table[entries]);
		if (ret) {
			dormix_gpio_free_lookup(table);
			return ret;
		}
		entries++;
	}
	gpiod_add_lookup_table(table);
	dormix_gpio_lookup = table;
	return 0;
}

static bool dormix_gpio_in_device_tree(void)
{
	struct device_node *node;
	bool found;

	node = of_find_compatible_node(NULL, NULL, "dormix,gpio");
	found = node && of_device_is_available(node);
	of_node_put(node);
	return found;
}

static void dormix_gpio_remove_own_device(void)
{
	platform_device_unregister(dormix_gpio_pdev);
	dormix_gpio_pdev = NULL;
	if (dormix_gpio_lookup)
		gpiod_remove_lookup_table(dormix_gpio_lookup);
	dormix_gpio_free_lookup(dormix_gpio_lookup);
	dormix_gpio_lookup = NULL;
}

static int __init dormix_gpio_init(void)
{
	int ret;

	ret = platform_driver_register(&dormix_gpio_driver);
	if (ret)
		return ret;
	if (dormix_gpio_in_device_tree()) {
		if (input0 || input1)
			pr_warn("input0= and input1= ignored: the device tree names the lines\n");
		return 0;
	}
	ret = dormix_gpio_add_lookup();
	if (ret)
		goto fail_driver;
	dormix_gpio_pdev = platform_device_register_simple(DORMIX_GPIO_NAME,
							   PLATFORM_DEVID_NONE,
							   NULL, 0);
	if (IS_ERR(dormix_gpio_pdev)) {
		ret = PTR_ERR(dormix_gpio_pdev);
		dormix_gpio_pdev = NULL;
		goto fail_lookup;
	}
	/* Probing is synchronous: a device left unbound has failed. */
	if (!dormix_gpio_pdev->dev.driver) {
		ret = -ENODEV;
		goto fail_lookup;
	}
	return 0;

fail_lookup:
	dormix_gpio_remove_own_device();
fail_driver:
	platform_driver_unregister(&dormix_gpio_driver);
	return ret;
}
module_init(dormix_gpio_init);

static void __exit dormix_gpio_exit(void)
{
	dormix_gpio_remove_own_device();
	platform_driver_unregister(&dormix_gpio_driver);
}
module_exit(dormix_gpio_exit);

MODULE_DESCRIPTION("dormix binary inputs as /dev/gpio");
MODULE_AUTHOR("dormix developers");
MODULE_LICENSE("Dual MIT/GPL");

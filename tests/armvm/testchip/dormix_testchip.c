// SPDX-License-Identifier: GPL-2.0 OR MIT
/*
 * dormix_testchip: a test-only gpiochip, labelled "dormix-testchip", of
 * four input lines whose levels a test sets through the attribute "levels"
 * of its platform device (/sys/devices/platform/dormix-testchip/levels):
 * one '0' or '1' per line, from line 0 on. Each line has an interrupt that
 * fires on every change of level while it is enabled, and that may be
 * armed for wakeup, so that dormix_gpio reaches these lines through the
 * ordinary GPIO consumer API just as it reaches a board's.
 */

#include <linux/bitmap.h>
#include <linux/gpio/driver.h>
#include <linux/interrupt.h>
#include <linux/irq.h>
#include <linux/irqdomain.h>
#include <linux/module.h>
#include <linux/mutex.h>
#include <linux/platform_device.h>
#include <linux/sysfs.h>

#define TESTCHIP_NAME	"dormix-testchip"
#define TESTCHIP_LINES	4

struct testchip {
	struct gpio_chip gc;
	struct irq_domain *domain;
	struct mutex lock;		/* levels */
	unsigned long levels;
	unsigned long enabled;		/* lines whose interrupt is unmasked */
};

static int testchip_get(struct gpio_chip *gc, unsigned int offset)
{
	struct testchip *chip = gpiochip_get_data(gc);

	return test_bit(offset, &chip->levels);
}

static int testchip_get_direction(struct gpio_chip *gc, unsigned int offset)
{
	return GPIO_LINE_DIRECTION_IN;
}

static int testchip_direction_input(struct gpio_chip *gc, unsigned int offset)
{
	return 0;
}

static int testchip_to_irq(struct gpio_chip *gc, unsigned int offset)
{
	struct testchip *chip = gpiochip_get_data(gc);

	return irq_create_mapping(chip->domain, offset) ?: -ENXIO;
}

static void testchip_irq_mask(struct irq_data *data)
{
	struct testchip *chip = irq_data_get_irq_chip_data(data);

	clear_bit(irqd_to_hwirq(data), &chip->enabled);
}

static void testchip_irq_unmask(struct irq_data *data)
{
	struct testchip *chip = irq_data_get_irq_chip_data(data);

	set_bit(irqd_to_hwirq(data), &chip->enabled);
}

static struct irq_chip testchip_irq_chip = {
	.name = TESTCHIP_NAME,
	.irq_mask = testchip_irq_mask,
	.irq_unmask = testchip_irq_unmask,
	.flags = IRQCHIP_SKIP_SET_WAKE,
};

static int testchip_irq_map(struct irq_domain *domain, unsigned int virq,
			    irq_hw_number_t hwirq)
{
	irq_set_chip_data(virq, domain->host_data);
	irq_set_chip_and_handler(virq, &testchip_irq_chip, handle_simple_irq);
	return 0;
}

static const struct irq_domain_ops testchip_irq_ops = {
	.map = testchip_irq_map,
	.xlate = irq_domain_xlate_twocell,
};

static ssize_t levels_show(struct device *dev, struct device_attribute *attr,
			   char *buf)
{
	struct testchip *chip = dev_get_drvdata(dev);
	char text[TESTCHIP_LINES + 1];
	int line;

	mutex_lock(&chip->lock);
	for (line = 0; line < TESTCHIP_LINES; line++)
		text[line] = test_bit(line, &chip->levels) ? '1' : '0';
	mutex_unlock(&chip->lock);
	text[TESTCHIP_LINES] = '\0';
	return sysfs_emit(buf, "%s\n", text);
}

/* Sets the levels given; each line whose level changed raises its interrupt. */
static ssize_t levels_store(struct device *dev, struct device_attribute *attr,
			    const char *buf, size_t count)
{
	struct testchip *chip = dev_get_drvdata(dev);
	unsigned long levels, changed;
	size_t len = count;
	unsigned int line, virq;

	if (len && buf[len - 1] == '\n')
		len--;
	if (!len || len > TESTCHIP_LINES)
		return -EINVAL;
	mutex_lock(&chip->lock);
	levels = chip->levels;
	for (line = 0; line < len; line++) {
		if (buf[line] != '0' && buf[line] != '1') {
			mutex_unlock(&chip->lock);
			return -EINVAL;
		}
		assign_bit(line, &levels, buf[line] == '1');
	}
	changed = levels ^ chip->levels;
	chip->levels = levels;
	for_each_set_bit(line, &changed, TESTCHIP_LINES) {
		virq = irq_find_mapping(chip->domain, line);
		if (virq && test_bit(line, &chip->enabled))
			generic_handle_irq_safe(virq);
	}
	mutex_unlock(&chip->lock);
	return count;
}
static DEVICE_ATTR_RW(levels);

static struct attribute *testchip_attrs[] = {
	&dev_attr_levels.attr,
	NULL,
};
ATTRIBUTE_GROUPS(testchip);

static void testchip_remove_domain(void *data)
{
	struct testchip *chip = data;
	unsigned int line;

	for (line = 0; line < TESTCHIP_LINES; line++)
		irq_dispose_mapping(irq_find_mapping(chip->domain, line));
	irq_domain_remove(chip->domain);
}

static int testchip_probe(struct platform_device *pdev)
{
	struct device *dev = &pdev->dev;
	struct testchip *chip;
	int ret;

	chip = devm_kzalloc(dev, sizeof(*chip), GFP_KERNEL);
	if (!chip)
		return -ENOMEM;
	mutex_init(&chip->lock);
	chip->domain = irq_domain_add_linear(NULL, TESTCHIP_LINES,
					     &testchip_irq_ops, chip);
	if (!chip->domain)
		return -ENOMEM;
	ret = devm_add_action_or_reset(dev, testchip_remove_domain, chip);
	if (ret)
		return ret;
	chip->gc.label = TESTCHIP_NAME;
	chip->gc.parent = dev;
	chip->gc.owner = THIS_MODULE;
	chip->gc.base = -1;
	chip->gc.ngpio = TESTCHIP_LINES;
	chip->gc.get = testchip_get;
	chip->gc.get_direction = testchip_get_direction;
	chip->gc.direction_input = testchip_direction_input;
	chip->gc.to_irq = testchip_to_irq;
	platform_set_drvdata(pdev, chip);
	return devm_gpiochip_add_data(dev, &chip->gc, chip);
}

static struct platform_driver testchip_driver = {
	.driver = {
		.name = TESTCHIP_NAME,
		.dev_groups = testchip_groups,
	},
};

static struct platform_device *testchip_device;

static int __init testchip_init(void)
{
	testchip_device = platform_create_bundle(&testchip_driver, testchip_probe,
						 NULL, 0, NULL, 0);
	return PTR_ERR_OR_ZERO(testchip_device);
}
module_init(testchip_init);

static void __exit testchip_exit(void)
{
	platform_device_unregister(testchip_device);
	platform_driver_unregister(&testchip_driver);
}
module_exit(testchip_exit);

MODULE_DESCRIPTION("dormix test-only GPIO lines with levels set through sysfs");
MODULE_LICENSE("Dual MIT/GPL");

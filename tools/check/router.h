// The router itself behind the analysis's seams: the status tool, the GPIO
// device and the monotonic clock, through the daemon's own device code. The
// checker calls these at its edge and hands the answers in; the analysis
// never calls them.
#pragma once

#include "analysis/field_view.h"
#include "analysis/report.h"

/// The field view's platform on this router.
field_platform router_field_platform();

/// Which binary inputs this router's status tool lists, asked once per
/// input; status_missing, with every input absent, when the tool is not
/// there to ask.
input_presence_answer router_input_presence();

// A header that reaches up from the link layer into the application: the include check must
// refuse it.
#pragma once

#include "app/ui_event.h"
#include "common/text.h"

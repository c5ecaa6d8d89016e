#pragma once

// The message, file and folder dialogs are static operations of Toolkit; this header is their home for
// readers who look for them by name.
#include "tamber/toolkit.h"

#pragma once

#include "tamber/object.h"

namespace tamber {

// A progress bar without text, showing whole percents.
class ProgressBar : public Widget {
public:
    void create(Window &parent, unsigned x, unsigned y, unsigned width, unsigned height);
    // Shows position percent; a position above 100 shows an empty bar.
    void setPosition(unsigned position);
};

} // namespace tamber

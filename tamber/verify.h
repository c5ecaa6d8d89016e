#pragma once

// TAMBER_VERIFY(condition, what) stops a program that misuses the toolkit (a control used before its
// create(), which would hand GTK a null widget) at the misuse, with one line on stderr naming the
// place, the condition and what went wrong, then abort(). A misuse is a fault of the calling code, not
// a user's error, so it is checked in debug builds only and never becomes a message box.
#ifdef NDEBUG
#define TAMBER_VERIFY(condition, what) static_cast<void>(0)
#else
#define TAMBER_VERIFY(condition, what)                                                                       \
    ((condition) ? static_cast<void>(0) : ::tamber::verifyFailed(__FILE__, __LINE__, #condition, what))
#endif

namespace tamber {

[[noreturn]] void verifyFailed(const char *file, int line, const char *condition, const char *what);

} // namespace tamber

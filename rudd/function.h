#pragma once

#include <type_traits>
#include <utility>

namespace rudd {

template <typename Signature> class function;

// The owning, cloning callback holder. It holds at most one callable (a bound member function or a
// closure) and owns it alone: copying a holder clones the callable, so no two holders ever share one.
// Reassigning a holder from inside its own call frees the callable that is running; do not do that.
// Calling an empty holder directly does nothing and returns a value-initialised result.
template <typename R, typename... P> class function<R(P...)> {
public:
    struct container {
        virtual R operator()(P... p) = 0;
        virtual container *copy() const = 0;
        virtual ~container() = default;
    };

    // Binds one member function to one object; the object is borrowed, never owned.
    template <typename T> struct member : container {
        R (T::*method)(P...);
        T *object;
        member(R (T::*method)(P...), T *object) : method(method), object(object) {}
        R operator()(P... p) override { return (object->*method)(std::forward<P>(p)...); }
        container *copy() const override { return new member(method, object); }
    };

    // Holds a closure by value.
    template <typename L> struct lambda : container {
        L closure;
        explicit lambda(const L &closure) : closure(closure) {}
        R operator()(P... p) override { return closure(std::forward<P>(p)...); }
        container *copy() const override { return new lambda(closure); }
    };

    function() = default;
    // The object may be of a class derived from the member function's class (an inherited member).
    template <typename T, typename U, typename = std::enable_if_t<std::is_convertible<U *, T *>::value>>
    function(R (T::*method)(P...), U *object) : callback(new member<T>(method, object)) {}
    template <typename T, typename U, typename = std::enable_if_t<std::is_convertible<U *, T *>::value>>
    function(R (T::*method)(P...), U &object) : callback(new member<T>(method, &object)) {}
    template <typename L, typename = decltype(std::declval<L &>()(std::declval<P>()...)),
              typename = std::enable_if_t<!std::is_same<std::decay_t<L>, function>::value>>
    function(const L &closure) : callback(new lambda<std::decay_t<L>>(closure)) {}
    function(const function &source) : callback(source.callback ? source.callback->copy() : nullptr) {}
    ~function() { delete callback; }

    function &operator=(const function &source) {
        if (this == &source)
            return *this;
        delete callback;
        callback = nullptr;
        if (source.callback)
            callback = source.callback->copy();
        return *this;
    }

    explicit operator bool() const { return callback != nullptr; }

    R operator()(P... p) const {
        if (!callback)
            return R();
        return (*callback)(std::forward<P>(p)...);
    }

private:
    container *callback = nullptr; // owned
};

} // namespace rudd

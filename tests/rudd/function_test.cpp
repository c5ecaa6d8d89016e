#include "rudd/function.h"

#include <gtest/gtest.h>

using rudd::function;

namespace {

// Counts live closures, so a leaked or doubly freed adapter shows as a wrong count.
struct counted {
    static int live;
    int *calls;
    explicit counted(int *calls) : calls(calls) { live++; }
    counted(const counted &other) : calls(other.calls) { live++; }
    ~counted() { live--; }
    void operator()() const { ++*calls; }
};
int counted::live = 0;

struct base {
    int hits = 0;
    virtual ~base() = default;
    virtual int which(int x) { return x; }
    void bump() { hits++; }
};

struct derived : base {
    int which(int x) override { return x * 10; }
};

} // namespace

TEST(function, copies_own_their_callable_and_release_it) {
    int calls = 0;
    {
        function<void()> target;
        {
            function<void()> source{counted(&calls)};
            EXPECT_EQ(counted::live, 1);
            target = source;
            EXPECT_EQ(counted::live, 2); // a clone, not a shared adapter
            function<void()> copy(source);
            EXPECT_EQ(counted::live, 3);
        }
        EXPECT_EQ(counted::live, 1);
        ASSERT_TRUE(target);
        target(); // still works after its source is gone
        EXPECT_EQ(calls, 1);

        function<void()> empty;
        target = empty;
        EXPECT_FALSE(target);
        EXPECT_EQ(counted::live, 0);
        target(); // an empty holder does nothing
        EXPECT_EQ(calls, 1);

        target = function<void()>(counted(&calls));
        target = target; // self-assignment keeps the callable
        ASSERT_TRUE(target);
        target();
        EXPECT_EQ(calls, 2);
    }
    EXPECT_EQ(counted::live, 0);
}

TEST(function, member_adapter_borrows_its_object_and_dispatches_virtually) {
    derived object;
    function<int(int)> which(&base::which, &object);
    function<int(int)> other;
    other = which;
    EXPECT_EQ(which(4), 40);
    EXPECT_EQ(other(5), 50);

    // Two clones of one member holder act on the same object.
    function<void()> first(&base::bump, object);
    function<void()> second(first);
    first();
    second();
    EXPECT_EQ(object.hits, 2);
}

TEST(function, closures_pass_arguments_and_results_through) {
    unsigned seen = 0;
    function<void(unsigned, unsigned)> progress(
        [&seen](unsigned offset, unsigned total) { seen = offset * 1000 + total; });
    progress(7, 9);
    EXPECT_EQ(seen, 7009u);
    function<bool()> close([] { return true; });
    EXPECT_TRUE(close());
    function<bool()> none;
    EXPECT_FALSE(none());
}

#include "support/conformance.h"

// The suite's own ground: the fixture gives every test a key and a folder.
TEST(Smoke, LastErrorRoundTrips) {
    SetLastError(0xdeadbeef);
    EXPECT_EQ(0xdeadbeefu, GetLastError());
}

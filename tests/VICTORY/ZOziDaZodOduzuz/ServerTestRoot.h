// The runtime root of a server test process: made before the first test
// (CORVANE_ROOT and CORVANE_DEVMEM are read once per process), removed
// after the last. Linking ServerTestRoot.cpp registers it.
#ifndef TESTS_VICTORY_ZOZIDAZODODUZUZ_SERVERTESTROOT_H
#define TESTS_VICTORY_ZOZIDAZODODUZUZ_SERVERTESTROOT_H

#include "tests/support/RuntimeRoot.h"

namespace zozi_test {

// DDS domain of the root's connections file unless a test sets its own.
constexpr int kDefaultDomainId = 60;

// The process's runtime root: VICTORY files with ports of their own, a
// constant synthetic geoid "synthetic", the simulator's memory file, and
// the default top-level file.
corvane_test::RuntimeRoot& serverRoot();

}  // namespace zozi_test

#endif  // TESTS_VICTORY_ZOZIDAZODODUZUZ_SERVERTESTROOT_H

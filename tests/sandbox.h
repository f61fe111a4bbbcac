#ifndef TESTS_SANDBOX_H
#define TESTS_SANDBOX_H

// The tests and benchmarks broadcast and answer on the converters' port: they
// run only in the private network namespace that scripts/netns-run makes, and
// refuse, before anything is sent, anywhere else. Returns inside it; says how
// to run the program and exits 1 outside.
void requireSandbox();

#endif // TESTS_SANDBOX_H

// The sanitizers' settings for every test program, built in rather than passed through ctest: the
// ENVIRONMENT that gtest_discover_tests gives each test keeps only the first variable of a list, so
// ThreadSanitizer's suppressions and UndefinedBehaviorSanitizer's settings never reached the tests that
// way. The environment still wins where it sets them.

extern "C" {

// Quoted: the sanitizers split their options at blanks, and a checkout's path may have some.
const char* __tsan_default_options() {
    return "halt_on_error=1:second_deadlock_stack=1:suppressions='" KORADO_TSAN_SUPPRESSIONS "'";
}

const char* __ubsan_default_options() { return "print_stacktrace=1:halt_on_error=1"; }

}  // extern "C"

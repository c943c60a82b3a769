/* A second library with the same entry point and one of its own. */
int kestrune_test_value(void) { return 22; }
int kestrune_test_only_b(void) { return 2; }

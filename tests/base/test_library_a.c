/* A small library that the library-binding tests load at run time. */
int kestrune_test_value(void) { return 11; }
int kestrune_test_only_a(void) { return 1; }

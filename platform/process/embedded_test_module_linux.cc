// A module for embedded_module_linux_test.cc, built twice: each build exports a
// function of its own name that answers its own letter.
extern "C" const char* QUARRIN_TEST_MODULE_ENTRY() { return QUARRIN_TEST_MODULE_LETTER; }

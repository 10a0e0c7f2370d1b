/* A resource-only library for the string-loader tests; the code it needs is
   the C runtime's default entry point. */
int provider_strings_fixture_marker;

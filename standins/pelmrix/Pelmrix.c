/* A resource-only library: the string table is all it carries; the code it
   needs is the C runtime's default entry point. */
int pelmrix_marker;

/* A test library with two functions, of which its export list names one: the
 * relink test names the other too and sees whether the library follows. */
int ProbeListed(void) { return 1; }
int ProbeUnlisted(void) { return 2; }

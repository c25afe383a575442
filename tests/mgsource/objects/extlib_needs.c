/* A library that needs one the loader cannot find. */
int DepAnswer(void);
int NeedsAnswer(void) { return DepAnswer() + 1; }

/* A library that calls a procedure no loaded object defines. */
int MissingEverywhere(void);
int UndefAnswer(void) { return MissingEverywhere(); }

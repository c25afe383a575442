/* A library without GetQXSBHeader and without an ordinal table. */
int PlainAnswer(void) { return 31; }

/* A library another test library needs; it is never where the loader looks. */
int DepAnswer(void) { return 5; }

/* A library of one function that library-function references load by name. */
int fn(int a, int b) { return a + b; }

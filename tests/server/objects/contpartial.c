/* A container library that exports only two of its entries: destroy always
   succeeds and every object may be activated in place. */
int QxcDestroyObject(int token) { return token != 0; }
int QxcObjectMiscFlags(int token) { return token ? 0x100 : 0; }

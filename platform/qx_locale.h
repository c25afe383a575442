// Locale values of the platform layer, read from the environment's locale
// settings (LC_ALL, LC_NUMERIC, LANG) without changing the process's own
// locale, which stays "C" so that the C library's number formatting and
// parsing never depend on the user's settings.
#pragma once

// The first byte of the numeric locale's decimal separator; '.' when the
// environment names no usable locale or the separator is empty.
char PlatLocaleDecimalPoint();

// Values for CfgGetDefault that tests set directly; they are looked up before
// anything else.  Stands in for the configuration file until it is read.
#pragma once

void CfgTestSetValue(const char* key, const char* text);
void CfgTestRemoveValue(const char* key);
void CfgTestClearValues();

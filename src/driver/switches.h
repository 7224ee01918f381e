// Command-line switch readers. Each takes a named switch and its value(s)
// out of the argument vector, which it edits in place.
#pragma once

// The switch's value string (the switch itself for k == 0), or
// absent_result when the switch is absent. Too few values: message on
// standard error and exit code 2.
const char* Lread_switch(int& argc, char** argv, const char* name, int k, const char* absent_result);
int Lread_iswitch(int& argc, char** argv, const char* name, int default_value);
double Lread_dswitch(int& argc, char** argv, const char* name, double default_value);
int read_flag_switch(int& argc, char** argv, const char* name);

// The usage text on standard output.
void print_usage();

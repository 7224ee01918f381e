// Command-line switch readers. Each takes a named switch and its value(s)
// out of the argument vector, which it edits in place.
#pragma once

namespace strellix {

// The switch's value string (the switch itself for k == 0), or
// absent_result when the switch is absent. Too few values: message on
// standard error and exit code 2.
const char* Lread_switch(int& argc, char** argv, const char* name, int k, const char* absent_result);
int Lread_iswitch(int& argc, char** argv, const char* name, int default_value);
double Lread_dswitch(int& argc, char** argv, const char* name, double default_value);
int read_flag_switch(int& argc, char** argv, const char* name);

// Called with exit code 2 on a switch error, after the message; the default
// ends the process. Only harnesses that feed the readers many argument
// vectors in one process replace it, with a function that throws. The
// readers end the process themselves should it return.
extern void (*switch_exit_hook)(int);

// The usage text on standard output.
void print_usage();

}  // namespace strellix

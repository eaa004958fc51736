#pragma once

#include <string>

// Console lines are written with one call each, so that lines written by
// different threads never interleave within a line.
namespace Utils {

void printOut(const std::string& text); // standard output
void printErr(const std::string& text); // standard error

// Lines that trace the life of network objects, on standard output. The
// receiver's console shows them; a program for people, such as the sender,
// may turn them off. Any thread.
void printTrace(const std::string& text);
void showTrace(bool shown);

// Bytes from the network as a console shows them: every byte that is not
// printable ASCII as \xNN (two lower-case hex digits), so that an escape
// sequence in them is seen, not obeyed.
std::string escaped(const std::string& bytes);

// What the system says of an errno value; unlike strerror, safe on any
// thread.
std::string systemError(int error);

// Makes standard output line-buffered, also into pipes and files, so that
// every line is visible as soon as it is written.
void lineBufferConsole();

} // namespace Utils

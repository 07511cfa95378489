/*
 * What the example programs share: the library's answer as a success or a
 * text, and the initialisation file they read by default.
 */
#ifndef VANTOR_EXAMPLE_SUPPORT_H
#define VANTOR_EXAMPLE_SUPPORT_H

#include <stddef.h>

#include "linkora.h"

enum { kPathCapacity = 4096, kTextCapacity = 512 };

/* A result whose two severity bits are clear is a success: some exports
 * pass on the kernel's own success word (0x09130000). */
int IsSuccess(LinkoraStatus status);

/* The library's English text for `status`, or a line that names the code
 * when the library has none. */
void StatusText(LinkoraStatus status, char* text, size_t capacity);

/* "<program>: <what> failed with 0x<code>:" and the library's text, on
 * standard error. */
void PrintFailure(const char* program, const char* what, LinkoraStatus status);

/* 1 for a success; else prints the failure as PrintFailure does and gives 0. */
int Succeeded(const char* program, const char* what, LinkoraStatus status);

/* Leaves CNC mode and prints "CNC mode left"; 1 on success. When the
 * controller left CNC mode but could not take every drive out of operation,
 * the channel stays open until a second exit ends it: both failures are
 * printed and 0 is returned. */
int LeaveCncMode(const char* program);

/* The folder of the running program, with a trailing slash; 0 when it
 * cannot be found or does not fit. */
int ProgramFolder(char* folder, size_t capacity);

/* The single optional argument of a program that takes only an
 * initialisation file: the file named, or machine.ini next to the program
 * (written into `buffer`). Returns 0 with `*path` set, 2 after printing the
 * usage for bad arguments, 1 after printing why the default cannot be
 * named. */
int IniFileArgument(const char* program, int argc, char** argv, char* buffer, size_t capacity,
                    const char** path);

#endif

// The scheduled task's definition, as the system's scheduler reads it: the
// start of the program with administrator rights at the user's logon. No
// <windows.h>.
#pragma once

#include <cstdint>

constexpr int32_t TASK_XML_SIZE = 8192;
constexpr int32_t TASK_DESCRIPTION_SIZE = 1024;

// "Starts PROGRAM with administrator rights when ACCOUNT logs on." False when
// it does not fit.
bool startupTaskDescription(const wchar_t* account, const wchar_t* program, wchar_t (&out)[TASK_DESCRIPTION_SIZE]);

// The task for ACCOUNT ("DOMAIN\user") that starts PROGRAM (its full path).
// False when it does not fit.
bool startupTaskXml(const wchar_t* account, const wchar_t* program, wchar_t (&out)[TASK_XML_SIZE]);

// Whether the program's place is one that only administrators can change, as
// a start with administrator rights at every logon needs: otherwise any
// program the user runs could replace skiprail.exe or srhook.dll, or put a DLL
// beside them, and run as administrator at the next logon without a prompt.
#pragma once

// Checks skiprail.exe, srhook.dll, their folder and every folder above it up
// to the top of the drive, with the system's access check for the user's
// token without elevation (an elevated program's linked token), and over
// their access lists for Everyone, Users, Authenticated Users and
// INTERACTIVE. False too when something cannot be read.
bool programPlaceSafe();

/* The program's version, in the version resources and the release's name. */
#pragma once

#define SKIPRAIL_VERSION_NUMBERS 1,0,0,0
#define SKIPRAIL_VERSION_TEXT    "1.0"

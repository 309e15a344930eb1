/*
 * The three wizard pages and their sequence.
 */
#include "wizard/wizard.h"

INT_PTR Prompt2Result; /* 0 for Continue, RESULT_BACK for Back */

/*
 * Control ids shared by the resource script and the code: #defines only, one
 * block per page. Ids 1 and 2 are the dialog manager's own: Enter presses the
 * control with id 1, Escape sends id 2.
 */
#pragma once

/* Every page */
#define IDC_CONTINUE 1 /* Continue..., Continue and OK: each page's default button */
#define IDC_CANCEL 2

/* Prompt1: introduction */
#define IDC_PROMPT1_TOP 1011
#define IDC_PROMPT1_MIDDLE 1012
#define IDC_PROMPT1_BOTTOM 1013

/* Prompt2: confirmation */
#define IDC_PROMPT2_TOP 1014
#define IDC_PROMPT2_MIDDLE 1015
#define IDC_PROMPT2_BOTTOM 1016
#define IDC_BACK 1017

/* Prompt3: completion */
#define IDC_PROMPT3_TOP 1018
#define IDC_PROMPT3_MIDDLE 1019
#define IDC_PROMPT3_BOTTOM 1020

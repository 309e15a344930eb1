/*
 * (to be written)
 */
#include "removal/removal.h"

// The conversion steps of a batch run: course title lookup, transcript
// naming and the conversion of one caption file.
#pragma once

#include "conversion/converter.h"
#include "conversion/course_title.h"
#include "conversion/naming.h"
#include "conversion/sources.h"
#include "conversion/transcriber.h"

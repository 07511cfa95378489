#pragma once

// Typed parameter files: the initialisation file and the machine-correction files.
#include "paramfile/binding.h"
#include "paramfile/defaults.h"
#include "paramfile/parameter_file.h"
#include "paramfile/parameter_line.h"
#include "paramfile/parameter_type.h"
#include "paramfile/schema.h"
#include "paramfile/text_syntax.h"
#include "paramfile/typed_access.h"
#include "paramfile/value_format.h"

// Built-in corner tables, vector parameter sets, the source rating table and the model groups.
#pragma once

#include <cstdint>

#include "ostrelin/ostrelin.h"

namespace ostrelin {

extern const OstrelinCornerTable AngleLsStd;
extern const OstrelinCornerTable AngleLsFast;
extern const OstrelinCornerTable AngleLsTc;
extern const OstrelinCornerTable AngleLsXp;
extern const OstrelinCornerTable AngleLsXpFast;

extern const OstrelinVectorParams ParamVitVectStd;
extern const OstrelinVectorParams ParamVitVectFast;
extern const OstrelinVectorParams ParamVitVectTc;
extern const OstrelinVectorParams ParamVitVectXpFast;

// Rating of a source code for the first (row 0) or second (row 1) source.
int32_t SourceRating(int row, uint16_t code);

bool IsXpModel(uint16_t model);
bool IsFastModel(uint16_t model);

}  // namespace ostrelin

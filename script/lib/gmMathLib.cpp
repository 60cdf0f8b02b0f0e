#include "script/lib/gmMathLib.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "script/lib/gmLibNumbers.h"
#include "script/vm/gmMachine.h"
#include "script/vm/gmThread.h"

// Floats are single precision throughout: every operand is rounded to float before the
// computation and every result is rounded to float before it is stored or truncated, so a
// result never depends on the host's wider intermediate precision.

namespace {

const float kDegToRad = 0.01745329238474369f;
const float kRadToDeg = 57.2957763671875f;

// Reads an int or float argument as a float; false for any other type.
bool ToFloat(const gmVariable& a_value, float& a_out) {
  a_out = 0.0f;
  if (a_value.IsInt()) {
    a_out = static_cast<float>(a_value.GetInt());
    return true;
  }
  if (a_value.IsFloat()) {
    a_out = a_value.GetFloat();
    return true;
  }
  return false;
}

// The higher type of the arguments decides between the int and the float form. Null and
// types above float are errors (reported by the caller without a message).
bool HigherNumberType(gmThread* a_thread, int a_count, int& a_higher) {
  a_higher = GM_NULL;
  for (int i = 0; i < a_count; ++i) {
    int type = a_thread->ParamType(i);
    if (type == GM_NULL) return false;
    if (type > a_higher) a_higher = type;
  }
  return a_higher <= GM_FLOAT;
}

// One-argument functions whose int form is the truncated float result.
typedef double (*UnaryMath)(double);

int PushUnaryMixed(gmThread* a_thread, UnaryMath a_math) {
  GM_EXPECT_PARAMS(1);
  const gmVariable value = a_thread->Param(0);
  if (value.IsInt()) {
    float x = static_cast<float>(value.GetInt());
    a_thread->PushInt(gmFloatToInt(static_cast<float>(a_math(x))));
    return GM_NATIVE_OK;
  }
  if (value.IsFloat()) {
    a_thread->PushFloat(static_cast<float>(a_math(value.GetFloat())));
    return GM_NATIVE_OK;
  }
  return GM_NATIVE_ERROR;
}

// One-argument functions with a float result whatever the argument's type.
int PushUnaryFloat(gmThread* a_thread, UnaryMath a_math) {
  GM_EXPECT_PARAMS(1);
  float x;
  if (!ToFloat(a_thread->Param(0), x)) return GM_NATIVE_ERROR;
  a_thread->PushFloat(static_cast<float>(a_math(x)));
  return GM_NATIVE_OK;
}

// floor, ceil and round leave an int alone.
int PushRounding(gmThread* a_thread, UnaryMath a_math) {
  GM_EXPECT_PARAMS(1);
  const gmVariable value = a_thread->Param(0);
  if (value.IsInt()) {
    a_thread->PushInt(value.GetInt());
    return GM_NATIVE_OK;
  }
  if (value.IsFloat()) {
    a_thread->PushFloat(static_cast<float>(a_math(value.GetFloat())));
    return GM_NATIVE_OK;
  }
  return GM_NATIVE_ERROR;
}

double RoundHalfUp(double a_x) { return std::floor(static_cast<float>(a_x + 0.5f)); }

int gmfAbs(gmThread* a_thread) {
  GM_EXPECT_PARAMS(1);
  const gmVariable value = a_thread->Param(0);
  if (value.IsInt()) {
    // Negated in unsigned arithmetic: the minimum int stays itself instead of overflowing.
    gmint x = value.GetInt();
    a_thread->PushInt(x < 0 ? static_cast<gmint>(0u - static_cast<gmuint>(x)) : x);
    return GM_NATIVE_OK;
  }
  if (value.IsFloat()) {
    a_thread->PushFloat(std::fabs(value.GetFloat()));
    return GM_NATIVE_OK;
  }
  return GM_NATIVE_ERROR;
}

int gmfSqrt(gmThread* a_thread) {
  return PushUnaryMixed(a_thread, [](double x) { return std::sqrt(x); });
}

int gmfPower(gmThread* a_thread) {
  GM_EXPECT_PARAMS(2);
  int higher;
  if (!HigherNumberType(a_thread, 2, higher)) return GM_NATIVE_ERROR;
  float x, y;
  ToFloat(a_thread->Param(0), x);
  ToFloat(a_thread->Param(1), y);
  float result = static_cast<float>(std::pow(x, y));
  if (higher == GM_INT)
    a_thread->PushInt(gmFloatToInt(result));
  else
    a_thread->PushFloat(result);
  return GM_NATIVE_OK;
}

int gmfFloor(gmThread* a_thread) {
  return PushRounding(a_thread, [](double x) { return std::floor(x); });
}
int gmfCeil(gmThread* a_thread) {
  return PushRounding(a_thread, [](double x) { return std::ceil(x); });
}
int gmfRound(gmThread* a_thread) { return PushRounding(a_thread, RoundHalfUp); }

int gmfDegToRad(gmThread* a_thread) {
  GM_EXPECT_PARAMS(1);
  float x;
  if (!ToFloat(a_thread->Param(0), x)) return GM_NATIVE_ERROR;
  a_thread->PushFloat(x * kDegToRad);
  return GM_NATIVE_OK;
}

int gmfRadToDeg(gmThread* a_thread) {
  GM_EXPECT_PARAMS(1);
  float x;
  if (!ToFloat(a_thread->Param(0), x)) return GM_NATIVE_ERROR;
  a_thread->PushFloat(x * kRadToDeg);
  return GM_NATIVE_OK;
}

int gmfCos(gmThread* a_thread) {
  return PushUnaryFloat(a_thread, [](double x) { return std::cos(x); });
}
int gmfSin(gmThread* a_thread) {
  return PushUnaryFloat(a_thread, [](double x) { return std::sin(x); });
}
int gmfTan(gmThread* a_thread) {
  return PushUnaryFloat(a_thread, [](double x) { return std::tan(x); });
}
int gmfACos(gmThread* a_thread) {
  return PushUnaryFloat(a_thread, [](double x) { return std::acos(x); });
}
int gmfASin(gmThread* a_thread) {
  return PushUnaryFloat(a_thread, [](double x) { return std::asin(x); });
}
int gmfATan(gmThread* a_thread) {
  return PushUnaryFloat(a_thread, [](double x) { return std::atan(x); });
}

int gmfATan2(gmThread* a_thread) {
  GM_EXPECT_PARAMS(2);
  float y, x;
  if (!ToFloat(a_thread->Param(0), y) || !ToFloat(a_thread->Param(1), x)) return GM_NATIVE_ERROR;
  a_thread->PushFloat(static_cast<float>(std::atan2(y, x)));
  return GM_NATIVE_OK;
}

// log(x) is the natural logarithm; log(base, x) divides the two common logarithms, each
// rounded to float first (so log(10, 1000) is exactly 3). Any other count fails silently.
int gmfLog(gmThread* a_thread) {
  int count = a_thread->GetNumParams();
  if (count == 1) return PushUnaryMixed(a_thread, [](double x) { return std::log(x); });
  if (count != 2) return GM_NATIVE_ERROR;
  int higher;
  if (!HigherNumberType(a_thread, 2, higher)) return GM_NATIVE_ERROR;
  float base, x;
  ToFloat(a_thread->Param(0), base);
  ToFloat(a_thread->Param(1), x);
  float result = static_cast<float>(std::log10(x)) / static_cast<float>(std::log10(base));
  if (higher == GM_INT)
    a_thread->PushInt(gmFloatToInt(result));
  else
    a_thread->PushFloat(result);
  return GM_NATIVE_OK;
}

int gmfMin(gmThread* a_thread) {
  GM_EXPECT_PARAMS(2);
  int higher;
  if (!HigherNumberType(a_thread, 2, higher)) return GM_NATIVE_ERROR;
  if (higher == GM_INT) {
    gmint a = a_thread->Param(0).GetInt(), b = a_thread->Param(1).GetInt();
    a_thread->PushInt(b < a ? b : a);
    return GM_NATIVE_OK;
  }
  float a, b;
  ToFloat(a_thread->Param(0), a);
  ToFloat(a_thread->Param(1), b);
  a_thread->PushFloat(!(b > a) ? b : a);  // written so a NaN picks the same side every time
  return GM_NATIVE_OK;
}

int gmfMax(gmThread* a_thread) {
  GM_EXPECT_PARAMS(2);
  int higher;
  if (!HigherNumberType(a_thread, 2, higher)) return GM_NATIVE_ERROR;
  if (higher == GM_INT) {
    gmint a = a_thread->Param(0).GetInt(), b = a_thread->Param(1).GetInt();
    a_thread->PushInt(b > a ? b : a);
    return GM_NATIVE_OK;
  }
  float a, b;
  ToFloat(a_thread->Param(0), a);
  ToFloat(a_thread->Param(1), b);
  a_thread->PushFloat(!(b < a) ? b : a);
  return GM_NATIVE_OK;
}

int gmfClamp(gmThread* a_thread) {
  GM_EXPECT_PARAMS(3);
  int higher;
  if (!HigherNumberType(a_thread, 3, higher)) return GM_NATIVE_ERROR;
  if (higher == GM_INT) {
    gmint low = a_thread->Param(0).GetInt(), value = a_thread->Param(1).GetInt(), high = a_thread->Param(2).GetInt();
    a_thread->PushInt(value < low ? low : (high < value ? high : value));
    return GM_NATIVE_OK;
  }
  float low, value, high;
  ToFloat(a_thread->Param(0), low);
  ToFloat(a_thread->Param(1), value);
  ToFloat(a_thread->Param(2), high);
  a_thread->PushFloat(low > value ? low : (high < value ? high : value));
  return GM_NATIVE_OK;
}

int gmfRandInt(gmThread* a_thread) {
  GM_EXPECT_PARAMS(2);
  GM_EXPECT_INT_PARAM(a, 0);
  GM_EXPECT_INT_PARAM(b, 1);
  gmint lo = a < b ? a : b;
  // The span is taken in 64 bits: b - a overflows an int for ranges wider than half the
  // int range, and a negative divisor would give results outside the range.
  int64_t span = static_cast<int64_t>(a < b ? b : a) - lo;
  gmint result = span == 0 ? a : static_cast<gmint>(lo + static_cast<int64_t>(gmRand()) % span);
  a_thread->PushInt(result);
  return GM_NATIVE_OK;
}

int gmfRandFloat(gmThread* a_thread) {
  GM_EXPECT_PARAMS(2);
  GM_EXPECT_FLOAT_PARAM(a, 0);
  GM_EXPECT_FLOAT_PARAM(b, 1);
  if (a == b) {
    a_thread->PushFloat(a);
    return GM_NATIVE_OK;
  }
  float lo = a < b ? a : b, hi = a < b ? b : a;
  float factor = static_cast<float>(gmRand() % 32767) / 32767.0f;
  a_thread->PushFloat(lo + (hi - lo) * factor);
  return GM_NATIVE_OK;
}

int gmfRandSeed(gmThread* a_thread) {
  GM_EXPECT_PARAMS(1);
  GM_EXPECT_INT_PARAM(seed, 0);
  std::srand(static_cast<unsigned>(seed));
  return GM_NATIVE_OK;
}

// ---- Conversion methods of int and float (the value is `this`) ------------------------

int gmfToString(gmThread* a_thread) {
  const gmVariable self = *a_thread->GetThis();
  char buffer[64];
  if (self.IsInt()) {
    std::snprintf(buffer, sizeof(buffer), "%d", self.GetInt());
  } else if (self.IsFloat()) {
    std::snprintf(buffer, sizeof(buffer), "%f", static_cast<double>(self.GetFloat()));
  } else if (self.IsString()) {
    a_thread->PushValue(self);
    return GM_NATIVE_OK;
  } else {
    return GM_NATIVE_ERROR;
  }
  a_thread->PushNewString(buffer);
  return GM_NATIVE_OK;
}

int gmfToFloat(gmThread* a_thread) {
  const gmVariable self = *a_thread->GetThis();
  if (self.IsInt())
    a_thread->PushFloat(static_cast<float>(self.GetInt()));
  else if (self.IsFloat())
    a_thread->PushFloat(self.GetFloat());
  else if (self.IsString())
    a_thread->PushFloat(static_cast<float>(std::strtod(self.GetStringObject()->GetString(), nullptr)));
  else
    return GM_NATIVE_ERROR;
  return GM_NATIVE_OK;
}

int gmfToInt(gmThread* a_thread) {
  const gmVariable self = *a_thread->GetThis();
  if (self.IsInt())
    a_thread->PushInt(self.GetInt());
  else if (self.IsFloat())
    a_thread->PushInt(gmFloatToInt(self.GetFloat()));
  else if (self.IsString())
    a_thread->PushInt(gmTextToInt(self.GetStringObject()->GetString()));
  else
    return GM_NATIVE_ERROR;
  return GM_NATIVE_OK;
}

const gmFunctionEntry s_mathLib[] = {
    {"abs", gmfAbs, 0, "x"},
    {"sqrt", gmfSqrt, 0, "x"},
    {"power", gmfPower, 0, "x, y"},
    {"floor", gmfFloor, 0, "x"},
    {"ceil", gmfCeil, 0, "x"},
    {"round", gmfRound, 0, "x"},
    {"degtorad", gmfDegToRad, 0, "degrees"},
    {"radtodeg", gmfRadToDeg, 0, "radians"},
    {"cos", gmfCos, 0, "radians"},
    {"sin", gmfSin, 0, "radians"},
    {"tan", gmfTan, 0, "radians"},
    {"acos", gmfACos, 0, "x"},
    {"asin", gmfASin, 0, "x"},
    {"atan", gmfATan, 0, "x"},
    {"atan2", gmfATan2, 0, "y, x"},
    {"log", gmfLog, 0, "[base], x"},
    {"min", gmfMin, 0, "a, b"},
    {"max", gmfMax, 0, "a, b"},
    {"clamp", gmfClamp, 0, "low, value, high"},
    {"randint", gmfRandInt, 0, "low, high"},
    {"randfloat", gmfRandFloat, 0, "low, high"},
    {"randseed", gmfRandSeed, 0, "seed"},
};

const gmFunctionEntry s_numberMethods[] = {
    {"String", gmfToString, 0, ""},
    {"Float", gmfToFloat, 0, ""},
    {"Int", gmfToInt, 0, ""},
};

}  // namespace

void gmBindMathLib(gmMachine* a_machine) {
  gmRegisterNatives(a_machine, s_mathLib, static_cast<int>(std::size(s_mathLib)));
  gmRegisterTypeNatives(a_machine, GM_INT, s_numberMethods, static_cast<int>(std::size(s_numberMethods)));
  gmRegisterTypeNatives(a_machine, GM_FLOAT, s_numberMethods, static_cast<int>(std::size(s_numberMethods)));
}

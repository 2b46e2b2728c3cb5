// The element type numbers of the record classes. They are the values of the
// OLE Automation VARENUM enumeration, defined here so that portable code needs
// no Windows header. Only the values that the record classes give a meaning to
// are named; any other number is a valid type too (an element of a type the
// record classes do not know carries no data), so the enumeration has a fixed
// underlying type and every int converts to it safely.
#pragma once

enum VARENUM : int {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_RECORD = 36,
  VT_BLOB = 65,
  // A modifier bit: a counted array of the base type. Every type with this bit
  // is a sized type whose size comes from a declaration.
  VT_VECTOR = 0x1000,
};

// Civil dates and OLE day numbers (days since 30 December 1899), in the
// proleptic Gregorian calendar, as dates are counted in variants.
#pragma once

namespace ledra {

constexpr long kOleDayOf1970 = 25569;  // 1 January 1970

long OleDayFromCivil(int year, int month, int day);
void CivilFromOleDay(long ole_day, int* year, int* month, int* day);

}  // namespace ledra

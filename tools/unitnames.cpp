// The names of the units of measure in the run-time resource file: the long
// name and the quantity of each unit, entry N for unit number N.
#include "rtlib/objunits_internal.h"
#include "rtlib/units.h"
#include "tools/appbuild.h"

namespace qxbuild {

namespace {

struct UnitNames {
  const char* name;
  const char* quantity;
};

const UnitNames kUnitNames[kUnitCount] = {
    {"radian", "plane angle"},
    {"steradian", "solid angle"},
    {"second", "time"},
    {"meter", "length"},
    {"kilogram", "mass"},
    {"ampere", "electric current"},
    {"kelvin", "thermodynamic temperature"},
    {"mole", "amount of substance"},
    {"candela", "luminous intensity"},
    {"gram", "mass"},
    {"hertz", "frequency"},
    {"newton", "force"},
    {"pascal", "pressure"},
    {"joule", "energy"},
    {"watt", "power"},
    {"coulomb", "electric charge"},
    {"volt", "electric potential"},
    {"farad", "capacitance"},
    {"ohm", "electric resistance"},
    {"siemens", "electric conductance"},
    {"weber", "magnetic flux"},
    {"tesla", "magnetic flux density"},
    {"henry", "inductance"},
    {"lumen", "luminous flux"},
    {"lux", "illuminance"},
    {"degree Celsius", "Celsius temperature"},
    {"becquerel", "activity"},
    {"gray", "absorbed dose"},
    {"sievert", "dose equivalent"},
    {"minute", "time"},
    {"hour", "time"},
    {"day", "time"},
    {"degree", "plane angle"},
    {"minute of arc", "plane angle"},
    {"second of arc", "plane angle"},
    {"liter", "volume"},
    {"metric ton", "mass"},
    {"hectare", "area"},
    {"electronvolt", "energy"},
    {"atomic mass unit", "mass"},
    {"barn", "area"},
    {"dyne", "force"},
    {"erg", "energy"},
    {"bar", "pressure"},
    {"maxwell", "magnetic flux"},
    {"gauss", "magnetic flux density"},
    {"oersted", "magnetic field strength"},
    {"electromagnetic unit", "magnetic moment"},
    {"rad", "absorbed dose"},
    {"degree Fahrenheit", "Fahrenheit temperature"},
    {"Celsius degree", "temperature interval"},
    {"Fahrenheit degree", "temperature interval"},
    {"year", "time"},
    {"pound", "mass"},
    {"ounce", "mass"},
    {"dram", "mass"},
    {"slug", "mass"},
    {"stone", "mass"},
    {"short ton", "mass"},
    {"long ton", "mass"},
    {"grain", "mass"},
    {"metric carat", "mass"},
    {"fermi", "length"},
    {"angstrom", "length"},
    {"foot", "length"},
    {"inch", "length"},
    {"line", "length"},
    {"cubit", "length"},
    {"rod", "length"},
    {"mile", "length"},
    {"yard", "length"},
    {"chain", "length"},
    {"furlong", "length"},
    {"fathom", "length"},
    {"astronomical unit", "length"},
    {"light year", "length"},
    {"hubble", "length"},
    {"acre", "area"},
    {"UK gallon", "volume"},
    {"US gallon", "volume"},
    {"quart", "volume"},
    {"pint", "volume"},
    {"gill", "volume"},
    {"fluid ounce", "volume"},
    {"fluid dram", "volume"},
    {"minim", "volume"},
    {"barrel", "volume"},
    {"bushel", "volume"},
    {"peck", "volume"},
    {"knot", "velocity"},
    {"pound force", "force"},
    {"standard atmosphere", "pressure"},
    {"torr", "pressure"},
    {"meter of mercury", "pressure"},
    {"pounds per square inch", "pressure"},
    {"calorie", "energy"},
    {"British thermal unit", "energy"},
    {"horsepower", "power"},
    {"poise", "dynamic viscosity"},
    {"footcandle", "illuminance"},
    {"roentgen", "exposure"},
    {"rem", "dose equivalent"},
    {"curie", "activity"},
    {"diopter", "refractive power"},
};

}  // namespace

void AddUnitNameStrings(rsrcw::Writer* writer) {
  std::vector<std::string> names, quantities;
  for (const UnitNames& u : kUnitNames) {
    names.push_back(u.name);
    quantities.push_back(u.quantity);
  }
  writer->Add(rsrcfmt::kTypeStrList, kUnitNamesListId, rsrcw::StrList(names), kUnitNamesListName);
  writer->Add(rsrcfmt::kTypeStrList, kUnitQuantitiesListId, rsrcw::StrList(quantities), kUnitQuantitiesListName);
  writer->Add(rsrcfmt::kTypeStrList, kUnitLongLabelListId, rsrcw::StrList({kUnitLongLabelText}));
}

}  // namespace qxbuild

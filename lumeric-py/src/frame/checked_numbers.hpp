// frame/checked_numbers.hpp: number parameters that carry their own rule, refused in the
// parameter's own name: `AtLeast<"k", 1>` ("k must be at least 1, got 0") and
// `Checked<"r", NonNegative>` ("r must be a non-negative number, got nan"). Each refusal text is
// written here once, for every class.
#pragma once

#include <Python.h>

#include <cmath>
#include <cstdint>
#include <string>

#include "frame/convert.hpp"
#include "frame/names.hpp"
#include "frame/record.hpp"
#include "frame/ref.hpp"

namespace lumeric {

// An integer of at least Least, named Param in the refusal ("k must be at least 1, got 0");
// values beyond 64 bits saturate (a count beyond memory fails when the result is made).
template <Name Param, long long Least>
struct AtLeast {
    std::uint64_t value;
};
using NeighbourCount = AtLeast<"k", 1>;

template <Name Param, long long Least>
struct Arg<AtLeast<Param, Least>> {
    AtLeast<Param, Least> value{};
    bool load(PyObject* op) noexcept {
        const Ref number = Ref::adopt(PyNumber_Index(op));
        if (!number) return false;
        int overflow = 0;
        const long long k = PyLong_AsLongLongAndOverflow(number.get(), &overflow);
        if (k == -1 && PyErr_Occurred()) return false;
        if (overflow < 0 || (overflow == 0 && k < Least)) {
            PyErr_Format(PyExc_ValueError, "%s must be at least %lld, got %S", Param.c_str(), Least, number.get());
            return false;
        }
        value.value = overflow > 0 ? ~std::uint64_t{0} : static_cast<std::uint64_t>(k);
        return true;
    }
    AtLeast<Param, Least> get() const noexcept { return value; }
};

// A float that passes Rule, named Param in the refusal ("r must be a non-negative number, got nan").
template <Name Param, class Rule>
struct Checked {
    double value;
};
struct NonNegative {
    static bool holds(double v) noexcept { return v >= 0; }
    static constexpr const char* text = "%s must be a non-negative number, got %R";
};
struct Finite {
    static bool holds(double v) noexcept { return std::isfinite(v); }
    static constexpr const char* text = "%s must be a finite number, got %R";
};
template <Name Param>
using Distance = Checked<Param, NonNegative>;

template <Name Param, class Rule>
struct Arg<Checked<Param, Rule>> {
    Arg<double> given;
    bool load(PyObject* op) noexcept {
        if (!given.load(op)) return false;
        if (Rule::holds(given.get())) return true;
        if (const Ref value = Ref::adopt(PyFloat_FromDouble(given.get())))
            PyErr_Format(PyExc_ValueError, Rule::text, Param.c_str(), value.get());
        return false;
    }
    Checked<Param, Rule> get() const noexcept { return {given.get()}; }
};

namespace record {
template <Name Param, long long Least>
struct Annotation<AtLeast<Param, Least>> : Annotation<Index> {};
template <Name Param, class Rule>
struct Annotation<Checked<Param, Rule>> : Annotation<double> {};
}  // namespace record

}  // namespace lumeric

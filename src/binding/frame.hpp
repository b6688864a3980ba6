// The call frame every function of the module runs through.
//
// bind -> convert (in parameter order, each failure noted with its parameter)
// -> typed body -> result, with every failure leaving as "NULL and an exception".
// A function is declared by one static parameter table, which drives both the
// binding (and its messages) and the conversions:
//
//   inline constexpr Parameters<BytesOrStr, std::uint64_t> FIND{"find", {"data", "count"}};
//   PyRef find_body(BytesOrStr data, std::uint64_t count);
//   PyMethodDef def{"find", as_method(&fastcall<FIND, find_body>), METH_FASTCALL | METH_KEYWORDS, doc};
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <tuple>
#include <utility>

#include "arguments.hpp"
#include "pool/cancel.hpp"
#include "errors.hpp"
#include "pyref.hpp"
#include "messages.hpp"
#include "pytypes.hpp"

namespace veltrane::py {

template <class... Ts>
struct Parameters {
    const char* function;
    std::array<const char*, sizeof...(Ts)> names;
};

namespace detail {

template <class T>
T convert_parameter(PyObject* obj, const char* name) {
    try {
        return FromPython<T>::convert(obj);
    } catch (const pool::Cancelled&) {
        throw;  // an interrupt is not a fault of the parameter: no note
    } catch (...) {
        set_error_from_current_exception();
        add_parameter_note(name);
        throw PythonError{};
    }
}

template <class... Ts, std::size_t... I>
std::tuple<Ts...> convert_all(const Parameters<Ts...>& params, PyObject* const* slots, std::index_sequence<I...>) {
    // Braced initialisation converts strictly left to right, so the first bad
    // parameter is the one reported and later ones are never touched.
    return std::tuple<Ts...>{convert_parameter<Ts>(slots[I], params.names[I])...};
}

template <class Body>
PyObject* run_guarded(Body&& body) noexcept {
    PyObject* result = nullptr;
    try {
        // Ctrl-C and other signals are seen while the call computes.
        pool::InterruptScope interruptible(&python_interrupt_requested);
        result = body().release();
    } catch (...) {
        set_error_from_current_exception();
    }
    return finish_call(result);
}

}  // namespace detail

// METH_FASTCALL | METH_KEYWORDS entry for a typed body taking the table's types.
template <const auto& Params, auto Body>
PyObject* fastcall(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
    return detail::run_guarded([&]() -> PyRef {
        constexpr std::size_t count = Params.names.size();
        std::array<PyObject*, count> slots{};
        bind_arguments(Params.function, Params.names, args, nargsf, kwnames, slots);
        auto values = detail::convert_all(Params, slots.data(), std::make_index_sequence<count>{});
        return std::apply(Body, std::move(values));
    });
}

// METH_NOARGS entry.
template <auto Body>
PyObject* noargs(PyObject* /*module*/, PyObject* /*unused*/) noexcept {
    return detail::run_guarded([]() -> PyRef { return Body(); });
}

// Casts an entry to the type PyMethodDef stores.
template <class F>
PyCFunction as_method(F* entry) noexcept {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry));
}

}  // namespace veltrane::py

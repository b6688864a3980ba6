// GzipReader: inflating a gzip file from one of its checkpoints to its end
// (gzip_index/reader.hpp), in the style of bz2.BZ2Decompressor, but writing
// into the caller's buffer (a raw stream's readinto) rather than into new
// bytes objects. Inflating runs without the interpreter lock. Corrupt data is
// a ValueError whose message says what zlib found; the package turns it into
// gzip.BadGzipFile.
#include <Python.h>

#include <span>

#include "binding/pyref.hpp"
#include "engine_binding/call.hpp"
#include "engine_binding/exclusive_use.hpp"
#include "engine_binding/heap_type.hpp"
#include "engine_binding/functions.hpp"
#include "engine_binding/input.hpp"
#include "engine_binding/without_gil.hpp"
#include "gzip_index/reader.hpp"

namespace veltrane::engine {

namespace {

using py::check;
using py::PyRef;
namespace gi = gzip_index;

struct ReaderObject {
    PyObject_HEAD
    // Null once a call failed midway: its input and output were taken in part.
    gi::Reader* reader;
    bool busy;
};

ReaderObject* as_reader(PyObject* self) { return reinterpret_cast<ReaderObject*>(self); }

// The reader, for a call that may use it now.
gi::Reader& usable(ReaderObject* self) {
    if (self->busy) {
        PyErr_SetString(PyExc_RuntimeError, "this reader is in use by another thread");
        py::throw_python_error();
    }
    if (self->reader == nullptr) {
        PyErr_SetString(PyExc_ValueError, "this reader stopped at an error or an interruption; open a new one");
        py::throw_python_error();
    }
    return *self->reader;
}

void drop_reader(ReaderObject* self) noexcept {
    delete self->reader;
    self->reader = nullptr;
}

[[noreturn]] void raise_data_error(const gi::DataError& e) {
    PyErr_SetString(PyExc_ValueError, e.what());
    py::throw_python_error();
}

// A non-negative int argument; the core judges its range.
unsigned long long whole_number(PyObject* arg, const char* name) {
    if (!PyLong_Check(arg)) {
        PyErr_Format(PyExc_TypeError, "%s must be an int, not %.200s", name, Py_TYPE(arg)->tp_name);
        py::throw_python_error();
    }
    const unsigned long long n = PyLong_AsUnsignedLongLong(arg);
    if (PyErr_Occurred()) {
        PyErr_Clear();
        PyErr_Format(PyExc_ValueError, "%s must be a non-negative integer below 2**64, not %R", name, arg);
        py::throw_python_error();
    }
    return n;
}

// The bits of a byte or their value: small, whatever the core's exact bound.
unsigned small_number(PyObject* arg, const char* name) {
    const unsigned long long n = whole_number(arg, name);
    if (n > 0xff) {
        PyErr_Format(PyExc_ValueError, "a checkpoint's %s must be below 256, not %R", name, arg);
        py::throw_python_error();
    }
    return static_cast<unsigned>(n);
}

PyObject* reader_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    return guarded([&] {
        static const char* names[] = {"position", "bits", "value", "window", nullptr};
        PyObject *position, *bits, *value, *window_arg;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOOO:GzipReader", const_cast<char**>(names), &position, &bits,
                                         &value, &window_arg)) {
            py::throw_python_error();
        }
        gi::Checkpoint from;
        from.position = whole_number(position, "position");
        from.bits = small_number(bits, "bits");
        from.value = small_number(value, "value");
        const InputBytes window(window_arg);
        from.window.assign(window.bytes().begin(), window.bytes().end());
        PyRef self = PyRef::steal(check(type->tp_alloc(type, 0)));
        as_reader(self.get())->reader = new gi::Reader(from);  // std::invalid_argument: ValueError
        return self;
    });
}

void reader_dealloc(PyObject* self) {
    delete as_reader(self)->reader;
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

// decompress_into(data, output) -> int: takes `data`, writes text into `output`.
PyObject* reader_decompress_into(PyObject* self_obj, PyObject* const* args, Py_ssize_t nargs) noexcept {
    return guarded([&] {
        if (nargs != 2) {
            PyErr_Format(PyExc_TypeError, "decompress_into() takes 2 arguments (%zd given)", nargs);
            py::throw_python_error();
        }
        ReaderObject* self = as_reader(self_obj);
        gi::Reader& reader = usable(self);
        const ExclusiveUse in_use(self->busy, "reader");
        const InputBytes input(args[0]);
        py::BufferRef output;
        if (!output.acquire(args[1], PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS)) py::throw_python_error();
        const std::span<std::uint8_t> out(static_cast<std::uint8_t*>(output.view().buf),
                                          static_cast<std::size_t>(output.view().len));
        std::size_t written = 0;
        try {
            WithoutGil unlocked;
            written = reader.decompress(input.bytes(), out);
        } catch (const gi::DataError& e) {
            drop_reader(self);
            raise_data_error(e);
        } catch (...) {
            drop_reader(self);
            throw;
        }
        return PyRef::steal(check(PyLong_FromSize_t(written)));
    });
}

// finish(): the file has ended; ValueError unless it may end here.
PyObject* reader_finish(PyObject* self_obj, PyObject*) noexcept {
    return guarded([&] {
        gi::Reader& reader = usable(as_reader(self_obj));
        try {
            reader.finish();
        } catch (const gi::DataError& e) {
            raise_data_error(e);
        }
        return PyRef::steal(Py_NewRef(Py_None));
    });
}

PyObject* reader_needs_input(PyObject* self, void*) noexcept {
    return guarded([&] { return PyRef::steal(PyBool_FromLong(usable(as_reader(self)).needs_input())); });
}

PyObject* reader_eof(PyObject* self, void*) noexcept {
    return guarded([&] { return PyRef::steal(PyBool_FromLong(usable(as_reader(self)).eof())); });
}

PyMethodDef READER_METHODS[] = {
    {"decompress_into", as_method(&reader_decompress_into), METH_FASTCALL,
     "decompress_into(data, output, /)\n--\n\nTakes the next compressed bytes (b'' when needs_input is False) and "
     "writes up to len(output) bytes of text into the writable buffer `output`; returns how many."},
    {"finish", reader_finish, METH_NOARGS,
     "finish()\n--\n\nThe compressed file has ended (call when needs_input is True); ValueError if it is cut short."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef READER_GETSET[] = {
    {"needs_input", reader_needs_input, nullptr, "False while input is kept or more text may be waiting.", nullptr},
    {"eof", reader_eof, nullptr, "True once finish() found the file complete.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot READER_SLOTS[] = {
    {Py_tp_new, reinterpret_cast<void*>(&reader_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&reader_dealloc)},
    {Py_tp_methods, READER_METHODS},
    {Py_tp_getset, READER_GETSET},
    {Py_tp_doc, const_cast<char*>("GzipReader(position, bits, value, window)\n--\n\n"
                                  "Inflates a gzip file from a checkpoint to its end; feed it the compressed bytes "
                                  "from the checkpoint's offset on.")},
    {0, nullptr},
};

PyType_Spec READER_TYPE = {"veltrane._engine.GzipReader", sizeof(ReaderObject), 0, Py_TPFLAGS_DEFAULT, READER_SLOTS};

}  // namespace

int add_gzip_reader_type(PyObject* module) { return add_type(module, &READER_TYPE); }

}  // namespace veltrane::engine

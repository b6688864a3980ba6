// GzipSurvey: the one pass over a gzip file that finds its checkpoints
// (gzip_index/survey.hpp). The package feeds it the file in chunks as it reads
// them, so the file is never held whole; each chunk is inflated without the
// interpreter lock.
#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine_binding/call.hpp"
#include "engine_binding/exclusive_use.hpp"
#include "engine_binding/heap_type.hpp"
#include "engine_binding/functions.hpp"
#include "engine_binding/input.hpp"
#include "engine_binding/without_gil.hpp"
#include "gzip_index/survey.hpp"

namespace veltrane::engine {

namespace {

using py::check;
using py::PyRef;
namespace gi = gzip_index;

struct SurveyObject {
    PyObject_HEAD
    // Null once finished, or once a call failed midway (its chunk was taken in part).
    gi::Survey* survey;
    bool busy;
};

SurveyObject* as_survey(PyObject* self) { return reinterpret_cast<SurveyObject*>(self); }

gi::Survey& live_survey(SurveyObject* self) {
    if (self->survey == nullptr) {
        PyErr_SetString(PyExc_ValueError, "this survey has finished or was interrupted; start a new one");
        py::throw_python_error();
    }
    return *self->survey;
}

void drop_survey(SurveyObject* self) noexcept {
    delete self->survey;
    self->survey = nullptr;
}

PyObject* survey_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    return guarded([&] {
        static const char* names[] = {"spacing", nullptr};
        PyObject* spacing_arg = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:GzipSurvey", const_cast<char**>(names), &spacing_arg)) {
            py::throw_python_error();
        }
        const unsigned long long spacing = PyLong_Check(spacing_arg) ? PyLong_AsUnsignedLongLong(spacing_arg) : 0;
        if (spacing == 0 || PyErr_Occurred()) {
            PyErr_Clear();
            PyErr_Format(PyExc_ValueError, "spacing must be a positive integer, not %R", spacing_arg);
            py::throw_python_error();
        }
        PyRef self = PyRef::steal(check(type->tp_alloc(type, 0)));
        as_survey(self.get())->survey = new gi::Survey(spacing);
        return self;
    });
}

void survey_dealloc(PyObject* self) {
    drop_survey(as_survey(self));
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

// feed(data) -> bool: False once the file is known not to be indexable.
PyObject* survey_feed(PyObject* self_obj, PyObject* data) noexcept {
    return guarded([&] {
        SurveyObject* self = as_survey(self_obj);
        gi::Survey& survey = live_survey(self);
        const ExclusiveUse in_use(self->busy, "survey");
        const InputBytes input(data);
        bool going_on = false;
        try {
            WithoutGil unlocked;
            going_on = survey.feed(input.bytes());
        } catch (...) {
            drop_survey(self);
            throw;
        }
        return PyRef::steal(PyBool_FromLong(going_on));
    });
}

PyRef checkpoint_tuple(const gi::Checkpoint& c) {
    PyRef window = PyRef::steal(check(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(c.window.data()),
                                                                 static_cast<Py_ssize_t>(c.window.size()))));
    return PyRef::steal(check(Py_BuildValue("(KKIIO)", static_cast<unsigned long long>(c.position),
                                            static_cast<unsigned long long>(c.offset), c.bits, c.value, window.get())));
}

// finish() -> (size, [(position, offset, bits, value, window), ...]) or the reason (str).
PyObject* survey_finish(PyObject* self_obj, PyObject*) noexcept {
    return guarded([&] {
        SurveyObject* self = as_survey(self_obj);
        gi::Survey& survey = live_survey(self);
        const ExclusiveUse in_use(self->busy, "survey");
        const gi::SurveyResult result = survey.finish();
        drop_survey(self);
        if (!result.indexable()) return PyRef::steal(check(PyUnicode_FromString(result.reason.c_str())));
        PyRef list = PyRef::steal(check(PyList_New(static_cast<Py_ssize_t>(result.checkpoints.size()))));
        for (std::size_t i = 0; i < result.checkpoints.size(); ++i) {
            PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), checkpoint_tuple(result.checkpoints[i]).release());
        }
        return PyRef::steal(check(Py_BuildValue("(KO)", static_cast<unsigned long long>(result.size), list.get())));
    });
}

PyMethodDef SURVEY_METHODS[] = {
    {"feed", survey_feed, METH_O,
     "feed(data, /)\n--\n\nThe next compressed bytes; False once the file is known not to be indexable."},
    {"finish", survey_finish, METH_NOARGS,
     "finish()\n--\n\nThe file has ended: (size, [(position, offset, bits, value, window), ...]), or why it cannot "
     "be indexed (a str)."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot SURVEY_SLOTS[] = {
    {Py_tp_new, reinterpret_cast<void*>(&survey_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&survey_dealloc)},
    {Py_tp_methods, SURVEY_METHODS},
    {Py_tp_doc, const_cast<char*>("GzipSurvey(spacing)\n--\n\n"
                                  "One pass over a gzip file, fed in chunks, recording checkpoints about every "
                                  "`spacing` uncompressed bytes.")},
    {0, nullptr},
};

PyType_Spec SURVEY_TYPE = {"veltrane._engine.GzipSurvey", sizeof(SurveyObject), 0, Py_TPFLAGS_DEFAULT, SURVEY_SLOTS};

}  // namespace

int add_gzip_survey_type(PyObject* module) { return add_type(module, &SURVEY_TYPE); }

}  // namespace veltrane::engine

// frame/object.hpp: instance layout and the class objects.
//
// Every instance of a module class is the host's object header, one core value and
// a borrow counter. Each class object lives in a ClassCell, created on first need
// (normally during import) and kept until the interpreter that made it ends
// (interpreter_cell.hpp). A core type T is tied to its Python class by specialising
// ClassFor<T> beside the class's definition.
#pragma once

#include <Python.h>

#include <atomic>
#include <new>
#include <type_traits>
#include <utility>

#include "frame/borrow.hpp"
#include "frame/errors.hpp"
#include "frame/interpreter_cell.hpp"
#include "frame/names.hpp"
#include "pool/interrupt.hpp"

namespace lumeric {

#ifdef Py_GIL_DISABLED
using BorrowFlag = BasicBorrowFlag<true>;
#else
using BorrowFlag = BasicBorrowFlag<false>;
#endif

template <class T>
struct Object {
    PyObject_HEAD
    T value;
    BorrowFlag borrow;
};

template <class T>
Object<T>* object_cast(PyObject* op) noexcept {
    return reinterpret_cast<Object<T>*>(op);
}

class ClassCell : public InterpreterCell {
public:
    using TypeSpecFactory = PyType_Spec* (*)();  // builds the class's PyType_Spec

    constexpr ClassCell(const char* name, TypeSpecFactory type_spec) noexcept : name_(name), type_spec_(type_spec) {}

    const char* name() const noexcept { return name_; }

    // The class object, created on first use; nullptr with the host's error set on failure.
    PyTypeObject* get() noexcept {
        if (PyObject* type = peek()) [[likely]] return reinterpret_cast<PyTypeObject*>(type);
        return create();
    }

    // As get(), but a failure becomes the internal-failure exception (used while
    // building a result, where no caller can report the host's error).
    PyTypeObject* get_for_result();

    // Instances freed (their value destroyed) and kept for reuse, see make_instance.
    PyObject* take_recycled() noexcept { return recycled_count_ > 0 ? recycled_[--recycled_count_] : nullptr; }
    bool keep_recycled(PyObject* op) noexcept {
        // Only instances of the class object in the cell: none once it has been released.
        if (recycled_count_ == recycled_capacity || Py_TYPE(op) != reinterpret_cast<PyTypeObject*>(peek()))
            return false;
        recycled_[recycled_count_++] = op;
        return true;
    }

private:
    PyTypeObject* create() noexcept;
    void on_release(PyObject* type) noexcept override;
    void on_forget() noexcept override { recycled_count_ = 0; }

    static constexpr int recycled_capacity = 64;

    const char* name_;
    TypeSpecFactory type_spec_;
    PyObject* recycled_[recycled_capacity] = {};
    int recycled_count_ = 0;
};

// Specialised per core type:
//     static constexpr Name name = "Vec3d";
//     static inline ClassCell cell{name.c_str(), &vec3d_spec};
template <class T>
struct ClassFor;

template <class T>
concept HasClass = requires { ClassFor<T>::cell; };

template <class T>
    requires HasClass<T>
bool is_instance(PyObject* op) noexcept {
    PyTypeObject* type = ClassFor<T>::cell.get();
    // The classes cannot be subclassed, so an exact type match settles almost every call.
    return type != nullptr && (Py_IS_TYPE(op, type) || PyObject_TypeCheck(op, type));
}

// Recently freed instances of a small value class are reused before asking the allocator:
// most results are short-lived temporaries, so this keeps allocation off the hot path.
// Under the global lock the class cell's list needs no synchronisation; the free-threaded
// build allocates every time.
template <class T>
inline constexpr bool recycles_instances =
#ifdef Py_GIL_DISABLED
    false;
#else
    std::is_trivially_destructible_v<T> && sizeof(T) <= 64;
#endif

// A new instance of `type` (T's class) holding `value`, or throws PythonError.
template <class T>
PyObject* make_instance(PyTypeObject* type, T value) {
    PyObject* op = nullptr;
    if constexpr (recycles_instances<T>) op = ClassFor<T>::cell.take_recycled();
    if (op != nullptr) {
        PyObject_Init(op, type);  // a fresh reference, and one to the class again
    } else {
        op = type->tp_alloc(type, 0);
        if (op == nullptr) raise_pending();
    }
    Object<T>* self = object_cast<T>(op);
    ::new (&self->value) T(std::move(value));
    ::new (&self->borrow) BorrowFlag();
    return op;
}

// A new instance of T's class holding `value`, or throws PythonError / Panic.
template <class T>
    requires HasClass<T>
PyObject* new_object(T value) {
    return make_instance<T>(ClassFor<T>::cell.get_for_result(), std::move(value));
}

// The deallocation slot shared by every class.
template <class T>
void dealloc(PyObject* op) noexcept {
    PyTypeObject* type = Py_TYPE(op);
    object_cast<T>(op)->value.~T();
    bool kept = false;
    if constexpr (recycles_instances<T>) kept = ClassFor<T>::cell.keep_recycled(op);
    if (!kept) {
        auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
        free_fn(op);
    }
    Py_DECREF(type);
}

// -- Borrowing --

// A shared borrow of `op`, released on scope exit. Check ok() after constructing.
template <class T>
class SharedRef {
public:
    explicit SharedRef(PyObject* op) noexcept : obj_(object_cast<T>(op)) {
        if (!obj_->borrow.try_shared()) obj_ = nullptr;
    }
    SharedRef(const SharedRef&) = delete;
    SharedRef& operator=(const SharedRef&) = delete;
    ~SharedRef() {
        if (obj_ != nullptr) obj_->borrow.release_shared();
    }
    bool ok() const noexcept { return obj_ != nullptr; }
    const T& get() const noexcept { return obj_->value; }
    PyObject* object() const noexcept { return reinterpret_cast<PyObject*>(obj_); }

private:
    Object<T>* obj_;
};

// Sets the RuntimeError of a refused exclusive borrow: "Already borrowed", and why when a
// buffer view is what holds the object.
void set_exclusive_refused(const BorrowFlag& flag) noexcept;

// An exclusive borrow of `op`, released on scope exit. Check ok() after constructing, or
// require() it. The receiver is changed in place meanwhile, so batches run to the end
// (frame/interrupt.hpp): a list is never left half done.
template <class T>
class ExclusiveRef {
public:
    explicit ExclusiveRef(PyObject* op) noexcept : obj_(object_cast<T>(op)), held_(obj_->borrow.try_exclusive()) {}
    ExclusiveRef(const ExclusiveRef&) = delete;
    ExclusiveRef& operator=(const ExclusiveRef&) = delete;
    ~ExclusiveRef() {
        if (held_) obj_->borrow.release_exclusive();
    }
    bool ok() const noexcept { return held_; }
    // Throws PythonError with the borrow error unless the borrow is held.
    void require() const {
        if (!held_) [[unlikely]] {
            set_exclusive_refused(obj_->borrow);
            throw PythonError{};
        }
    }
    T& get() const noexcept { return obj_->value; }
    PyObject* object() const noexcept { return reinterpret_cast<PyObject*>(obj_); }

private:
    Object<T>* obj_;
    bool held_;
    pool::RunToEnd run_to_end_;
};

// Copies `from` into `out`; false with MemoryError set when the copy cannot allocate (a
// list's elements), so that no allocation failure escapes a noexcept caller.
template <class T>
bool assign_copy(T& out, const T& from) noexcept {
    if constexpr (std::is_nothrow_copy_assignable_v<T>) {
        out = from;
    } else {
        try {
            out = from;
        } catch (const std::bad_alloc&) {
            PyErr_NoMemory();
            return false;
        }
    }
    return true;
}

// Copies the core value of `op` (known to be a T instance) under a short shared borrow;
// false with RuntimeError "Already mutably borrowed" set when it is borrowed exclusively,
// or with MemoryError when the copy cannot be made.
template <class T>
bool copy_value(PyObject* op, T& out) noexcept {
#ifdef Py_GIL_DISABLED
    SharedRef<T> ref(op);
    if (!ref.ok()) {
        PyErr_SetString(PyExc_RuntimeError, already_mutably_borrowed);
        return false;
    }
    return assign_copy(out, ref.get());
#else
    // Under the interpreter lock nothing can intervene during the copy itself.
    Object<T>* obj = object_cast<T>(op);
    if (obj->borrow.is_exclusive()) [[unlikely]] {
        PyErr_SetString(PyExc_RuntimeError, already_mutably_borrowed);
        return false;
    }
    return assign_copy(out, obj->value);
#endif
}

}  // namespace lumeric

/* tests/embed/restart.c: an embedding program that starts Python, imports and uses lumeric_py,
   and finalises Python again, three times in one process. Every round must find working, fresh
   class objects (or be refused with ImportError); each prints one line saying which. */
#include <Python.h>

#include <stdio.h>

static const char round_script[] =
    "import sys\n"
    "try:\n"
    "    import lumeric_py\n"
    "except ImportError as e:\n"
    "    print('refused:', e)\n"
    "    raise SystemExit(0)\n"
    "from lumeric_py import Vec3d, VecList, geometry\n"
    "v = Vec3d(1, 2, 3)\n"
    "assert type(v) is Vec3d and v.dot(Vec3d(4, 5, 6)) == 32\n"
    "assert sum((v * k).x for k in range(100)) == 4950\n" /* recycled instances */
    "assert len(VecList([v] * 20000).normalize()) == 20000\n"
    "assert geometry.Plane(Vec3d(0, 0, 1), 3).contains_point(v)\n"
    "try:\n"
    "    VecList([v]).collapse(3)\n"
    "except BaseException as e:\n"
    "    assert type(e).__name__ == 'PanicException' and not isinstance(e, Exception), e\n"
    "del sys.modules['lumeric_py']\n"
    "import lumeric_py as again\n"
    "assert again.Vec3d is Vec3d and again.geometry is geometry\n"
    "import pickle\n" /* the reconstructor and the class names are the interpreter's own */
    "assert pickle.loads(pickle.dumps(VecList([v, -v]))).to_array() == [[1, 2, 3], [-1, -2, -3]]\n"
    "keep = [Vec3d(k, 0, 0) for k in range(10)]\n" /* still alive when Python finalises */
    "print('worked')\n";

int main(void) {
    for (int round = 1; round <= 3; ++round) {
        Py_Initialize();
        printf("round %d: ", round);
        fflush(stdout);
        int failed = PyRun_SimpleString(round_script);
        if (Py_FinalizeEx() < 0 || failed) {
            printf("round %d failed\n", round);
            return 1;
        }
    }
    return 0;
}

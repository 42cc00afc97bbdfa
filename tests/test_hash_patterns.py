# Vec3d's hash: its check values, and each component canonicalised on its own: every NaN is one
# NaN, -0.0 is +0.0, and the patterns next to those (infinities, the smallest subnormals) keep their
# own hash. Equal vectors may hash differently: the hash is over exact bit patterns.

import pytest

from helpers import from_bits
from lumeric_py import Vec3d


NAN, NEGATIVE_ZERO, INFINITY = 0x7FF8_0000_0000_0000, 0x8000_0000_0000_0000, 0x7FF0_0000_0000_0000
SAME = [(NEGATIVE_ZERO, 0), (INFINITY + 1, NAN), (0xFFFF_FFFF_FFFF_FFFF, NAN), (0xFFF0_0000_0000_0001, NAN)]
DIFFERENT = [(INFINITY, NAN), (INFINITY, 0), (INFINITY | NEGATIVE_ZERO, 0), (NEGATIVE_ZERO + 1, 0), (1, 0)]


def with_component(position: int, word: int) -> Vec3d:
    components = [1.5, -2.25, 3.0]
    components[position] = from_bits(word)
    return Vec3d(*components)


@pytest.mark.parametrize("position", range(3))
@pytest.mark.parametrize("word, twin", SAME + DIFFERENT)
def test_each_component_hashes_by_its_canonical_pattern(position, word, twin):
    same = hash(with_component(position, word)) == hash(with_component(position, twin))
    assert same == ((word, twin) in SAME)


@pytest.mark.parametrize("vector, expected", [((0, 0, 0), -504348149136077492), ((1, 2, 3), 3511550596308926913),
                                              ((0.5, 0, 0), -3483901450573570688),
                                              ((0.5 + 2**-53, 0, 0), 7757659051346302374)])
def test_check_values(vector, expected):
    assert hash(Vec3d(*vector)) == expected

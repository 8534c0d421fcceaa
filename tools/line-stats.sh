#!/usr/bin/env bash
# Test code against product code, by lines that are neither blank, nor comments, nor
# preprocessor lines. Test code: tests/ and fuzz/ (not their corpora and data) and test-only
# support wherever it lives; product code: every other C++ line of the product's folders.
set -euo pipefail
cd "$(dirname "$0")/.."
testonly='(^|/)(tests?|fuzz)/|^platform/fake_process[.]|^tools/(dxp_client|soak)/|^tools/capture_search[.]|(^|/)[^/]*(test|fake|mock)[^/]*$'
count() { xargs -r cat | grep -c -v -E '^\s*($|//|#|/[*]|[*])' || true; }
sources=$(git ls-files -- '*.cpp' '*.cc' '*.h' '*.hpp' '*.py' '*.sh' | grep -v -E '/(corpus|regressions|data)/')
tests=$(grep -E "$testonly" <<<"$sources" | count)
code=$(grep -v -E "$testonly" <<<"$sources" |
       grep -E '^(board|dxp|engine|control|platform|standin|tools|bench)/.*[.](cpp|cc|h|hpp)$' | count)
echo "test code:    $tests lines"
echo "product code: $code lines"
echo "tests/code:   $((100 * tests / code))%"

<?php
// What the PHP client scripts share: a step passed prints "ok STEP"; the
// first step that fails prints "FAILED STEP DETAIL" and ends the script
// with exit status 1.
function check($step, $ok, $detail = '') {
    if (!$ok) {
        echo "FAILED $step $detail\n";
        exit(1);
    }
    echo "ok $step\n";
}

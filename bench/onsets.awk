# Onsets heard against onsets expected. Usage: awk -v speed=0.5 -v tol=0.025 -v dur=24 -f onsets.awk ORIGINAL SLOWED
# (each a list of onset times in seconds, one per line, as aubioonset prints them). Prints F-measure,
# precision, recall, the median timing error of the matched onsets (ms) and the two counts.
FNR == 1 { file++ }
file == 1 { e[ne++] = $1 / speed; next }
file == 2 { d[nd++] = $1 }
END {
    lo = 0.2; hi = dur - 0.2
    n = 0; for (i = 0; i < ne; i++) if (e[i] >= lo && e[i] <= hi) E[n++] = e[i]; ne = n
    n = 0; for (i = 0; i < nd; i++) if (d[i] >= lo && d[i] <= hi) D[n++] = d[i]; nd = n
    # Greedy, in time order: each expected onset takes the nearest unused heard one within the tolerance.
    j = 0; tp = 0
    for (i = 0; i < ne; i++) {
        while (j < nd && D[j] < E[i] - tol) j++
        best = -1
        for (k = j; k < nd && D[k] <= E[i] + tol; k++)
            if (!used[k] && (best < 0 || abs(D[k] - E[i]) < abs(D[best] - E[i]))) best = k
        if (best >= 0) { used[best] = 1; err[tp++] = abs(D[best] - E[i]) * 1000 }
    }
    p = nd ? tp / nd : 0; r = ne ? tp / ne : 0; f = p + r ? 2 * p * r / (p + r) : 0
    for (i = 1; i < tp; i++) { x = err[i]; for (k = i - 1; k >= 0 && err[k] > x; k--) err[k + 1] = err[k]; err[k + 1] = x }
    med = tp ? (tp % 2 ? err[(tp - 1) / 2] : (err[tp / 2 - 1] + err[tp / 2]) / 2) : 0
    printf "%.3f %.3f %.3f %.1f %d %d\n", f, p, r, med, ne, nd
}
function abs(x) { return x < 0 ? -x : x }

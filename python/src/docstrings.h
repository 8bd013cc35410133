// The docstrings of the module's functions. Each opens with its signature in the
// interpreter's own form, which help() and inspect.signature() read.
#ifndef RESPMAT_PYTHON_SRC_DOCSTRINGS_H
#define RESPMAT_PYTHON_SRC_DOCSTRINGS_H

namespace respmat::python::docs {

inline constexpr char kLoadText[] = R"(load_text(path, *, drop_rows=0, sep=',', quote=None, skip=None, skip_blank=True)
--

Load a delimited text file of numbers into a 2-D float64 array.

The values are bit for bit those of the library's matrix_load_text: the file is cut
into lines (LF, CR or CR LF), each data line into fields, and each field is read
like C's atof (leading blanks, '+', exponents, hex floats, 'inf' and 'nan' are
accepted; an empty or non-numeric field is 0.0). The first data line sets the
number of columns: missing fields of a shorter line are 0.0 and extra fields of a
longer one are ignored. A file without data lines gives shape (0, 0). The file is
read in large blocks and converted on several threads straight into the array.

Parameters
----------
path : str, bytes or os.PathLike
    The file.
drop_rows : int
    Data lines to leave out at the start (a header row, say); comment lines do not
    count. More than the file has leaves shape (0, 0).
sep : str or None
    The field separator, matched as a whole string; None splits at runs of blanks
    (space, tab, ...) instead.
quote : str or None
    One ASCII character between whose pairs a separator does not split; the quote
    characters stay in the field (so a quoted field reads as 0.0). None: no quoting.
skip : str or None
    Lines that start with this text are comments and left out. None: no comments.
skip_blank : bool
    Blank lines (empty, or nothing but spaces and tabs) are left out too, as numpy
    reads them; the tool's er.csv, which ends with an empty line, loads as m x m.
    False keeps the library's rule: a blank line is a row (of 0.0).

Returns
-------
numpy.ndarray
    float64, C-contiguous, shape (rows, cols).

Raises
------
OSError
    The file cannot be opened or read (FileNotFoundError, PermissionError,
    IsADirectoryError, ...), with errno and filename set.
ValueError
    The file has more rows or columns than 2**31 - 1, or an argument is malformed
    (a quote of more than one character, a NUL in sep or skip, a negative drop_rows).
MemoryError
    The array does not fit in memory.)";

inline constexpr char kModel[] = R"(model(phases, *, amplitude=0.47247222310000003, offset=0.1696)
--

The model response matrix of a sequence of phases.

Entry (i, j) on and below the diagonal is
amplitude * sin(2*pi*(phases[i] - phases[j]) + offset), every step carried in x87
extended precision and only the result rounded to float64; entries above the
diagonal are 0.0. Every entry is bit for bit what the respmat tool writes to er.csv
for the same phases, amplitude and offset.

Parameters
----------
phases : array_like
    One-dimensional, in turns (units of 2*pi); converted once to float64. Every
    phase must be finite, as the tool requires.
amplitude, offset : float
    The model's constants (doubles); the defaults are the tool's.

Returns
-------
numpy.ndarray
    float64, C-contiguous, shape (m, m) for m phases.

Raises
------
ValueError
    phases is not one-dimensional.)";

inline constexpr char kLoadPhases[] = R"(load_phases(path, column=0)
--

Read a column of phases from a comma-separated table or an optics table.

The same reader, with the same rules, as the respmat tool's --phases and --column.
A comma-separated table holds one phase per line in the chosen column; when the
column is chosen by name, its first line is a header naming the columns (matched
without regard to case). An optics table (first byte '@' or '*') has '@' header
lines, a '*' line naming the columns, a '$' line of their types and blank-separated
rows; only a numeric column may be chosen there, by name or by its index among the
named columns. Every phase must be a finite number.

Parameters
----------
path : str, bytes or os.PathLike
    The table.
column : int, str or None
    The 0-based index or the name of the column. None takes column 0 of a
    comma-separated table; for an optics table it fails listing the columns that
    can be chosen.

Returns
-------
numpy.ndarray
    float64, shape (rows,): the phases in turns, in file order.

Raises
------
OSError
    The table cannot be opened or read (FileNotFoundError, PermissionError, ...),
    with errno and filename set.
ValueError
    A field is not a finite number (the message names file, line and column), or
    the column is not in the table.
TypeError
    column is neither an int, a str nor None.)";

inline constexpr char kRun[] = R"(run(response=None, phases=None, output='er.csv', monitors=None, column=0)
--

Run the respmat tool's job: read m and the phases, write the model matrix.

With no arguments this is the bare tool: m is the number of fields of the first line
of ../reponsematx_H0.1A.csv, the phases are column 0 of the first m rows of
../realmachinephases.csv (read like C's atof; a non-numeric phase is 0.0 and
reported as a RuntimeWarning), and the model matrix is written to er.csv. Any
argument makes it the tool with options, which refuses a phase that is not a
finite number.

Parameters
----------
response : str, bytes, os.PathLike or None
    The measured response matrix; only the number of fields of its first line is
    used, as m. None: the default beside the working folder, unless `phases` is
    given, in which case m is the number of rows of the phase table.
phases : str, bytes, os.PathLike or None
    The phase table, comma-separated or an optics table (see load_phases).
output : str, bytes or os.PathLike
    The comma-separated model matrix, replaced whole or not at all.
monitors : int or None
    m itself, overriding the response file.
column : int, str or None
    The phase column, as for load_phases.

Returns
-------
int
    m, the order of the matrix written.

Raises
------
OSError
    An input cannot be opened or read, or the output cannot be written
    (FileNotFoundError, PermissionError, ...), with errno and filename set; the
    output file then keeps its previous contents.
ValueError
    The phase table holds too few phases or a malformed one, the column is not in
    the table, or the options contradict each other (an output that would
    overwrite an input).)";

inline constexpr char kSaveCsv[] = R"(save_csv(array, path)
--

Write a 2-D array as comma-separated text, byte for byte as the tool writes er.csv.

Each row becomes one line of its values printed like C's "%.16g" (16 significant
digits, shortest form) separated by ",", each line ends with a line feed, and one
more line feed ends the text. An array with no rows or no columns gives a single
line feed.

Parameters
----------
array : array_like
    Two-dimensional; converted once to C-contiguous float64 if it is not already.
path : str, bytes or os.PathLike
    The file to write. It is replaced whole: the text goes to a temporary file
    beside it that is renamed over it only when complete, so on failure the file
    keeps its previous contents.

Raises
------
ValueError
    The array is not two-dimensional or has more than 2**31 - 1 rows or columns.
OSError
    The file cannot be created or written (PermissionError, FileNotFoundError for a
    missing folder, ...), with errno and filename set.)";

inline constexpr char kReadBin[] = R"(read_bin(source)
--

Read a matrix in the library's binary form.

The form is the row count and the column count as little-endian 32-bit integers,
then the elements as little-endian float64 values row by row, nothing before or
after, so several matrices can follow one another in one file.

Parameters
----------
source : str, bytes, os.PathLike or binary file object
    A file name gives the file's first matrix. An open binary file (anything with
    readinto() or read(), such as open(name, "rb") or io.BytesIO) gives the next
    matrix from its current position and leaves it just past that matrix, so
    repeated calls read a sequence of matrices.

Returns
-------
numpy.ndarray
    float64, C-contiguous, shape (rows, cols); every element bit for bit as stored.

Raises
------
EOFError
    The open file is at its end: no matrix is left.
ValueError
    The data are not a whole matrix: an incomplete header, a negative count, or
    elements ending early (or a named file that is empty).
OSError
    The file cannot be opened or read (FileNotFoundError, PermissionError,
    IsADirectoryError, ...), with errno and filename set; or what the file object
    raised.)";

inline constexpr char kWriteBin[] = R"(write_bin(array, target)
--

Write a 2-D array in the library's binary form (see read_bin).

Parameters
----------
array : array_like
    Two-dimensional; converted once to C-contiguous float64 if it is not already.
target : str, bytes, os.PathLike or binary file object
    A file name is replaced whole by a file holding this one matrix (through a
    temporary file renamed over it, so on failure it keeps its previous contents).
    An open binary file (anything with write(), such as open(name, "wb") or
    io.BytesIO) receives the matrix at its current position, after any written
    before; there a failure may leave part of it written.

Raises
------
ValueError
    The array is not two-dimensional or has more than 2**31 - 1 rows or columns.
OSError
    The file cannot be created or written, with errno and filename set; or what
    the file object raised.)";

inline constexpr char kOpticsModel[] = R"(optics_model(path, *, plane='x', lattice='line', scale=1.0, monitors_match=None, correctors_match=None, correctors_at_monitors=None)
--

The response matrix of a beam line or ring from its optics table.

Entry (i, j) is the orbit at monitor i per unit kick of corrector j, from the beta
functions and phase advances (in turns) of the chosen plane:
scale * sqrt(beta_i * beta_j) * sin(2*pi*(mu_i - mu_j)) for a line, where monitor i
is downstream of corrector j (0 elsewhere), and
scale * sqrt(beta_i * beta_j) / (2*sin(pi*Q)) * cos(2*pi*|mu_i - mu_j| - pi*Q) for a
ring of tune Q. The matrix is bit for bit what `respmat model --optics` writes.

Parameters
----------
path : str, bytes or os.PathLike
    An optics table with columns NAME, S, BETX, MUX, BETY, MUY, KEYWORD where
    present, and the tunes Q1, Q2 among its header values.
plane : {'x', 'y'}
    BETX, MUX and Q1, or BETY, MUY and Q2.
lattice : {'line', 'ring'}
scale : float
    A factor on every entry, e.g. the kick per ampere of the correctors.
monitors_match, correctors_match : str or None
    Regular expressions (ECMAScript); the rows whose NAME contains a match are the
    monitors or the correctors. None: the rows whose KEYWORD is MONITOR (or
    HMONITOR for x, VMONITOR for y), or KICKER (or HKICKER, VKICKER).
correctors_at_monitors : bool or None
    A corrector at every monitor; None: so when the table has no corrector.

Returns
-------
tuple
    (matrix, monitor_names, corrector_names): a float64 array of shape
    (monitors, correctors) and two lists of str.

Raises
------
OSError
    The table cannot be opened or read, with errno and filename set.
ValueError
    The table lacks a column the model needs, has a malformed or non-finite
    value, selects no monitor or no corrector, or a ring's tune is a whole
    number; or an argument is malformed.)";
inline constexpr char kHeatmap[] = R"(heatmap(matrix, path, *, title='', row_names=None, column_names=None, range=None)
--

Draw a 2-D array as a heat map picture, as the tool's --heatmap draws the model.

The file name's extension chooses the format: '.svg' gives SVG, '.pdf' PDF (in any
case), anything else PNG. Entries are blocks of one colour, at least 600 pixels
(points for SVG and PDF) to a side of the plot; beyond 2048 rows or columns each
block is the mean of several entries. Colours run from blue (-range) through white
(0) to red (+range), entries beyond the range take the colour of its end, and a
block with a NaN among its entries is black. A colour bar with its values stands
beside the plot; rows (row 0 at the top) and columns are labelled with their names
or 0-based indices, as many as fit without overlapping.

Parameters
----------
matrix : array_like
    Two-dimensional; converted once to C-contiguous float64 if it is not already.
path : str, bytes or os.PathLike
    The file to write. It is replaced whole: the picture goes to a temporary file
    beside it that is renamed over it only when complete, so on failure the file
    keeps its previous contents.
title : str
    Drawn above the plot; empty for none.
row_names, column_names : sequence of str or None
    One name per row or column; None labels them with their indices.
range : float or None
    The bound of the colour scale, a positive finite number. None: the largest
    finite magnitude among the entries (1 when there is none but 0).

Raises
------
ValueError
    The array is not two-dimensional or has more than 2**31 - 1 rows or columns,
    a sequence of names is not as long as the rows or columns, or the range is not
    a positive finite number.
TypeError
    The names are not a sequence of str, or the range is not a number.
OSError
    The file cannot be created or written (PermissionError, FileNotFoundError for a
    missing folder, ...), with errno and filename set.)";

inline constexpr char kCompare[] = R"(compare(measured, model, *, reach=None, sigma=None, outlier_k=5.0)
--

A measured response matrix against a model, as `respmat compare` does it.

Parameters
----------
measured, model : array_like
    Two-dimensional, one layout (rows x columns as given); measured already divided
    by its step.
reach : array_like of bool or None
    The entries the model may reach; None: where model != 0.
sigma : array_like or None
    The uncertainties of measured; None: outliers are judged against 1.4826 times
    the median absolute deviation of the residuals, computed again without the
    first pass's outliers.
outlier_k : float
    An entry is an outlier when |residual| / sigma exceeds it.

Returns
-------
dict
    rows, cols, rms_measured, rms_model, rms_residual (over reachable entries),
    rms_upstream (over the others), per_monitor_rms and per_corrector_rms (arrays),
    chi2_reduced (None without sigma), outliers (a list of dicts with monitor,
    corrector, residual, score) and residual (measured - model).

Raises
------
ValueError
    The shapes differ, a value is not finite, or sigma is not above 0.)";

inline constexpr char kFit[] = R"(fit(measured, *, phases=None, optics=None, kind="amplitude-offset", step=1.0, sigma=None, corrector_monitors=None, amplitude=0.47247222310000003, offset=0.1696, plane="x", lattice="line", scale=1.0, monitors_match=None, correctors_match=None, correctors_at_monitors=None, exclude_outliers=False, outlier_k=5.0) -> dict
--

The model's constants fitted to a measured response matrix, as `respmat fit` fits
them: the same numbers, bit for bit, for the same values.

Parameters
----------
measured : array_like
    Two-dimensional, monitors x correctors (the layout of model() and compare();
    the transpose of the tool's default measured file), as measured: it is divided
    by `step`.
phases : array_like or None
    The phase model: one phase (turns) per monitor, as model() takes them. Monitor
    i sees corrector j when i >= j's monitor.
optics : str, bytes, os.PathLike or None
    The model of this optics table instead, made as optics_model() makes it with
    `plane`, `lattice`, `scale`, `monitors_match`, `correctors_match` and
    `correctors_at_monitors`; its monitors and correctors must be measured's.
kind : str
    "amplitude-offset": weighted linear least squares in a = A cos(delta),
    b = A sin(delta) of measured ~ A sin(2 pi (phase_i - phase_j) + delta), giving
    amplitude and offset (an optics line: scale and offset; a ring: scale alone).
    "calibrations": a gain per monitor, a strength and an offset per corrector by
    Ceres Solver, started from that fit, with sum(log(gain)) = 0; a corrector
    that reaches fewer than two monitors is left out.
step : float
    The corrector change of the measurement; finite and not 0.
sigma : array_like or None
    Uncertainties of measured, in its layout (above 0): weights 1/sigma**2, and
    errors not scaled by the reduced chi-square.
corrector_monitors : sequence of int or None
    With phases, the 0-based monitor at which each measured corrector sits; None:
    measured must be square, corrector j at monitor j.
amplitude, offset : float
    The phase model's constants that rms_before measures against.
exclude_outliers : bool
    Leave out the entries compare() finds to be outliers past `outlier_k`.

Returns
-------
dict
    The summary's keys: parameters (a list of dicts with kind, name, value,
    error), chi2_reduced, rms_before, rms_after, points, iterations, converged,
    left_out (corrector names); each kind under its own key with its errors under
    kind + "_error": amplitude or scale and offset as floats, monitor_gain,
    corrector_strength and corrector_offset as arrays; and fitted, the model with
    the fitted constants (monitors x correctors, 0 where it does not reach).

Raises
------
TypeError
    measured, phases or corrector_monitors is not of the kind described.
ValueError
    Shapes or counts that disagree, a value that is not finite, sigma not above 0,
    step 0, an unknown kind, both or neither of phases and optics, a bad optics
    table, or a fit with too few points, singular or not converging (the message
    says which).
OSError
    The optics table cannot be read.)";

}  // namespace respmat::python::docs

#endif

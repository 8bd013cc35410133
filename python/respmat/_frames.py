"""pandas frames for the functions that take a matrix.

A matrix given as a DataFrame has the monitors as its index and the correctors as its
columns; vectors given as Series are indexed the same way. Frames and Series are aligned
by their names, never their positions, and a name without a partner is a ValueError.
Results come back as frames and Series with those names when a frame was given; plain
numpy stays plain numpy. pandas is imported only when a frame is passed.
"""

import math

import numpy as np

from . import _respmat


def _is_pandas(value, kind):
    module = type(value).__module__
    return module.startswith("pandas") and type(value).__name__ == kind


def is_frame(value):
    return _is_pandas(value, "DataFrame")


def is_series(value):
    return _is_pandas(value, "Series")


def _pandas():
    import pandas  # noqa: PLC0415 - only a caller that passes frames needs it

    return pandas


def _unpartnered(what, names, expected):
    """The ValueError for names of `what` that `expected` lacks, or those it lacks."""
    extra = [str(n) for n in names if n not in expected]
    missing = [str(n) for n in expected if n not in names]
    parts = []
    if extra:
        parts.append("names " + ", ".join(extra[:5]) + (f" and {len(extra) - 5} more" if len(extra) > 5 else "")
                     + " that the matrix does not have")
    if missing:
        parts.append("has no " + ", ".join(missing[:5]) + (f" and {len(missing) - 5} more" if len(missing) > 5 else ""))
    return ValueError(f"{what} " + "; ".join(parts))


def _unique(what, labels):
    labels = list(labels)
    if len(set(labels)) != len(labels):
        twice = next(label for label in labels if labels.count(label) > 1)
        raise ValueError(f"{what} names {twice!r} twice")
    return labels


def aligned_frame(what, frame, monitors, correctors):
    """The values of `frame` in the order of `monitors` x `correctors`."""
    if not is_frame(frame):
        return frame
    rows, cols = _unique(f"{what}'s index", frame.index), _unique(f"{what}'s columns", frame.columns)
    if set(rows) != set(monitors):
        raise _unpartnered(f"{what}'s index", rows, list(monitors))
    if set(cols) != set(correctors):
        raise _unpartnered(f"{what}'s columns", cols, list(correctors))
    return frame.loc[list(monitors), list(correctors)].to_numpy(dtype=np.float64)


def aligned_series(what, series, names):
    """The values of `series` in the order of `names`."""
    if not is_series(series):
        return series
    labels = _unique(f"{what}'s index", series.index)
    if set(labels) != set(names):
        raise _unpartnered(f"{what}'s index", labels, list(names))
    return series.loc[list(names)].to_numpy(dtype=np.float64)


def entries(what, items, names):
    """0-based indices of `items`: ints as they are, other items by name."""
    indices = []
    lookup = {name: k for k, name in enumerate(names)}
    for item in items:
        if isinstance(item, (int, np.integer)) and not isinstance(item, bool):
            indices.append(int(item))
        elif item in lookup:
            indices.append(lookup[item])
        else:
            raise ValueError(f"{what}: {item!r} is neither an index nor the name of one")
    return indices


def compare(measured, model, *, reach=None, sigma=None, outlier_k=5.0, step=1.0):
    if not (isinstance(step, (int, float)) and math.isfinite(step) and step != 0):
        raise ValueError("step must be a finite number other than 0")
    framed = is_frame(measured) or is_frame(model)
    monitors = correctors = None
    if framed:
        reference = measured if is_frame(measured) else model
        monitors = _unique("measured's index", reference.index)
        correctors = _unique("measured's columns", reference.columns)
        measured, model = (aligned_frame(name, value, monitors, correctors)
                           for name, value in (("measured", measured), ("model", model)))
        reach = aligned_frame("reach", reach, monitors, correctors) if reach is not None else None
        sigma = aligned_frame("sigma", sigma, monitors, correctors) if sigma is not None else None
    if step != 1.0:
        # Per unit corrector change, as the tool divides it: the same numbers.
        measured = np.asarray(measured, dtype=np.float64) / step
        if sigma is not None:
            sigma = np.asarray(sigma, dtype=np.float64) / abs(step)
    result = _respmat.compare(measured, model, reach=reach, sigma=sigma, outlier_k=outlier_k)
    if framed:
        pandas = _pandas()
        result["residual"] = pandas.DataFrame(result["residual"], index=monitors, columns=correctors)
        result["per_monitor_rms"] = pandas.Series(result["per_monitor_rms"], index=monitors)
        result["per_corrector_rms"] = pandas.Series(result["per_corrector_rms"], index=correctors)
        for outlier in result["outliers"]:
            outlier["monitor_name"] = monitors[outlier["monitor"]]
            outlier["corrector_name"] = correctors[outlier["corrector"]]
    return result


def aligned_bounds(bounds, correctors):
    """A (correctors, 2) array of `bounds` matched by name: a corrector left out is unbounded."""
    if not is_frame(bounds):
        return bounds
    names = _unique("bounds's index", bounds.index)
    unknown = [name for name in names if name not in set(correctors)]
    if unknown:
        raise _unpartnered("bounds's index", unknown, [])
    if set(bounds.columns) != {"lower", "upper"}:
        raise _unpartnered("bounds's columns", list(bounds.columns), ["lower", "upper"])
    limits = np.tile([-np.inf, np.inf], (len(correctors), 1))
    position = {name: k for k, name in enumerate(correctors)}
    limits[[position[name] for name in names]] = bounds[["lower", "upper"]].to_numpy(dtype=np.float64)
    return limits


def correct(R, orbit, *, weights=None, bounds=None, exclude_monitors=(), exclude_correctors=(), orbit_sigma=None,
            **options):
    framed = is_frame(R)
    monitors = _unique("R's index", R.index) if framed else None
    correctors = _unique("R's columns", R.columns) if framed else None
    if framed:
        orbit = aligned_series("orbit", orbit, monitors)
        if weights is not None:
            weights = aligned_series("weights", weights, monitors)
        if orbit_sigma is not None:
            orbit_sigma = aligned_series("orbit_sigma", orbit_sigma, monitors)
        if bounds is not None:
            bounds = aligned_bounds(bounds, correctors)
        R = R.to_numpy(dtype=np.float64)
    exclude_monitors = entries("exclude_monitors", exclude_monitors, monitors or [])
    exclude_correctors = entries("exclude_correctors", exclude_correctors, correctors or [])
    result = _respmat.correct(R, orbit, weights=weights, bounds=bounds, exclude_monitors=exclude_monitors,
                              exclude_correctors=exclude_correctors, orbit_sigma=orbit_sigma, **options)
    if framed:
        pandas = _pandas()
        result["change"] = pandas.Series(result["change"], index=correctors, name="change")
        result["predicted"] = pandas.Series(result["predicted"], index=monitors, name="predicted")
    return result


def _model_names(optics, options, plane):
    """The monitor and corrector names of the optics model of one plane."""
    keys = ("lattice", "scale", "monitors_match", "correctors_match", "correctors_at_monitors")
    _, monitors, correctors = _respmat.optics_model(optics, plane=plane, **{k: options[k] for k in keys if k in options})
    return monitors, correctors


def _fit_quadrupoles(measured, options):
    """The quadrupole fit of frames: each plane's frames aligned to its optics model's names."""
    both = options.get("plane") == "both"
    planes = [("x" if both else options.get("plane", "x"), "measured", "sigma", "fitted")]
    if both:
        planes.append(("y", "measured_y", "sigma_y", "fitted_y"))
    frames, names = {"measured": measured, "measured_y": options.get("measured_y")}, {}
    for plane, values, sigma, fitted in planes:
        monitors, correctors = _model_names(options["optics"], options, plane)
        names[fitted] = (monitors, correctors)
        if is_frame(frames[values]):
            aligned = aligned_frame(values, frames[values], monitors, correctors)
            if values == "measured":
                measured = aligned
            else:
                options[values] = aligned
        if is_frame(options.get(sigma)):
            options[sigma] = aligned_frame(sigma, options[sigma], monitors, correctors)
    result = _respmat.fit(measured, **options)
    pandas = _pandas()
    for fitted, (monitors, correctors) in names.items():
        result[fitted] = pandas.DataFrame(result[fitted], index=monitors, columns=correctors)
    return _framed_covariance(result)


def _framed_covariance(result):
    """The covariance as a frame indexed both ways by its parameters' kind:name."""
    names = result["covariance_names"]
    result["covariance"] = _pandas().DataFrame(result["covariance"], index=names, columns=names)
    return result


def fit(measured, **options):
    if options.get("kind") == "quadrupoles" and options.get("optics") is not None and (
            is_frame(measured) or is_frame(options.get("measured_y"))):
        return _fit_quadrupoles(measured, options)
    if not is_frame(measured):
        return _respmat.fit(measured, **options)
    monitors = _unique("measured's index", measured.index)
    correctors = _unique("measured's columns", measured.columns)
    if options.get("optics") is not None:
        # The optics table's order, matched by name; its names are the results'.
        _, model_monitors, model_correctors = _respmat.optics_model(options["optics"], **{
            key: options[key] for key in ("plane", "lattice", "scale", "monitors_match", "correctors_match",
                                          "correctors_at_monitors", "rf", "momentum_compaction", "circumference")
            if key in options})
        values = aligned_frame("measured", measured, model_monitors, model_correctors)
        monitors, correctors = model_monitors, model_correctors
    else:
        values = measured.to_numpy(dtype=np.float64)
    sigma = options.get("sigma")
    if sigma is not None:
        options["sigma"] = aligned_frame("sigma", sigma, monitors, correctors)
    result = _respmat.fit(values, **options)
    pandas = _pandas()
    result["fitted"] = pandas.DataFrame(result["fitted"], index=monitors, columns=correctors)
    for kind, names in (("monitor_gain", monitors), ("corrector_strength", correctors),
                        ("corrector_offset", correctors)):
        for key in (kind, kind + "_error"):
            if key in result and len(result[key]) == len(names):
                result[key] = pandas.Series(result[key], index=names, name=key)
    if options.get("optics") is None:
        # A phase model numbers its monitors and correctors; the frame names them.
        named = lambda kind, number: str((monitors if kind.startswith("monitor") else correctors)[int(number)])
        for parameter in result["parameters"]:
            if parameter["name"]:
                parameter["name"] = named(parameter["kind"], parameter["name"])
        result["covariance_names"] = [kind + ":" + (named(kind, number) if number else "")
                                      for kind, number in (name.split(":", 1) for name in result["covariance_names"])]
    return _framed_covariance(result)


def heatmap(matrix, path, *, row_names=None, column_names=None, **options):
    if is_frame(matrix):
        row_names = [str(name) for name in matrix.index] if row_names is None else row_names
        column_names = [str(name) for name in matrix.columns] if column_names is None else column_names
        matrix = matrix.to_numpy(dtype=np.float64)
    return _respmat.heatmap(matrix, path, row_names=row_names, column_names=column_names, **options)


def svd(R):
    if not is_frame(R):
        return _respmat.svd(R)
    U, s, Vt = _respmat.svd(R.to_numpy(dtype=np.float64))
    pandas = _pandas()
    return pandas.DataFrame(U, index=R.index), s, pandas.DataFrame(Vt, columns=R.columns)


for _wrapper in (compare, correct, fit, heatmap, svd):
    _wrapper.__doc__ = getattr(_respmat, _wrapper.__name__).__doc__ + (
        "\n\nA matrix may be a pandas.DataFrame (index: monitors, columns: correctors) and a vector a Series"
        " indexed by them: they are aligned by name, and the results come back as frames and Series.")

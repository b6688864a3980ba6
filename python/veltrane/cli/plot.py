"""`veltrane profile --plot`: the profile and its edges as a PNG (needs matplotlib)."""
from __future__ import annotations

from .._profile import Profile
from .exits import UsageError


def require_matplotlib() -> None:
    """Checked before any work, so that a missing package is a usage error and not a late failure."""
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        raise UsageError("--plot needs matplotlib, which is not installed: pip install 'veltrane[plot]'") from None


def draw_profile(profile: Profile, name: str, target: str) -> None:
    import matplotlib

    matplotlib.use("Agg")
    from matplotlib import pyplot

    figure, axes = pyplot.subplots(figsize=(10, 3.5), layout="constrained")
    try:
        # Each value holds from its window's start to the next start; the last one to the end.
        xs = [*profile.offsets, profile.size]
        ys = [*profile.values, profile.values[-1]] if profile.values else [0.0]
        axes.step(xs, ys, where="post", linewidth=1.0, color="tab:gray", label=profile.measure)
        axes.axhline(profile.high, color="tab:red", linestyle=":", linewidth=0.8, label=f"high {profile.high}")
        axes.axhline(profile.low, color="tab:blue", linestyle=":", linewidth=0.8, label=f"low {profile.low}")
        for edge in profile.edges:
            axes.axvline(edge.offset, color="tab:red" if edge.direction == "rising" else "tab:blue", linewidth=1.2)
        for start, end in profile.regions:
            axes.axvspan(start, end, color="tab:red", alpha=0.08)
        axes.set_xlim(0, max(profile.size, 1))
        axes.set_ylim(0, 1.05)
        axes.set_xlabel("offset (bytes)")
        axes.set_ylabel("entropy (H/8)" if profile.measure == "metric" else "normalised entropy")
        axes.set_title(f"{name}: window {profile.window}, step {profile.step}")
        axes.legend(loc="lower right", fontsize="small")
        figure.savefig(target, format="png", dpi=100)
    finally:
        pyplot.close(figure)

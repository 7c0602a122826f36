"""What a judged recording looks like: the terminal summaries (`summary`), the plots (`plot_data`
prepares their data without matplotlib, `plots`, `qc_plots` and `signal_plots` draw them, a
worker process draws those of `analyze` beside the analysis) and the self-contained HTML report
(`report`). matplotlib is imported only by the plotting modules, and only when they are.
"""
